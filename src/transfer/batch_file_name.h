#pragma once

#include <string>

namespace telvora {

// The name a batch file is saved under, from the name its header sent: only
// the last path component (folders, drive letters and ".." are dropped),
// control characters replaced by '_', at most 255 bytes. A name that leaves
// nothing usable becomes "download-N" with the given number. The result
// never leaves the download folder.
std::string BatchFileName(const std::string& sent, int number);

} // namespace telvora
