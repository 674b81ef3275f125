#pragma once

#include <cstddef>
#include <string>

namespace telvora {

// A whole small file in and out, for texts the user names (a text to send,
// a saved scrollback). Paths are the system's bytes. Failures throw
// std::runtime_error with a text ready for the user.

// Refuses what is not a regular file (a named pipe would never end) and a
// file larger than maxBytes, without waiting on it.
std::string ReadWholeFile(const std::string& path, std::size_t maxBytes = 16u << 20);
// Creates or replaces the file; a full disk is reported, not lost.
void WriteWholeFile(const std::string& path, const std::string& bytes);

} // namespace telvora
