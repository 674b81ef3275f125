#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvora {

// The longest name a folder entry may have, in bytes (NAME_MAX).
inline constexpr std::size_t kMaxNameBytes = 255;

// The name a batch file is saved under, from the name its header sent: only
// the last path component (folders, drive letters and ".." are dropped),
// control characters and invisible format characters (bidirectional
// overrides, zero-width characters, byte order marks and the like) replaced
// by '_', at most kMaxNameBytes bytes, never cut inside a UTF-8 sequence. A
// name that leaves nothing usable becomes "download-N" with the given number.
// The result never leaves the download folder.
std::string BatchFileName(const std::string& sent, int number);

// The name with the suffix before its extension ("report.1.txt" for a second
// "report.txt"; after a name without one), the stem cut first, never inside
// a UTF-8 sequence, so the whole fits in kMaxNameBytes.
std::string NameWithSuffix(const std::string& name, const std::string& suffix);

// The files of a batch that did not arrive at the length their header
// announced: kept, but the batch is no success.
class TLengthMismatches {
public:
    void Clear();
    // A file that arrived at another length than its header announced.
    void Note(const std::string& name, std::uint64_t arrived, std::uint64_t announced);
    bool Any() const { return m_count > 0; }
    // The first such file with both lengths, and how many more there were.
    std::string Summary() const;

private:
    int m_count = 0;
    std::string m_first;
};

} // namespace telvora
