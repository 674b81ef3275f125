#include "transfer/batch_file_name.h"

#include <algorithm>
#include <array>
#include <utility>

namespace telvora {

namespace {

// Characters a name must not carry although they print nothing: a
// bidirectional override or isolate makes "gpj.exe" show as "exe.jpg", and a
// zero-width character makes two different names look alike. Unicode's
// general category Cf, and the C1 controls and line and paragraph separators
// besides.
constexpr std::array<std::pair<char32_t, char32_t>, 22> kHidden{{
    {0x0080, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},
    {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},
    {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},
    {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
}};

bool IsHidden(char32_t code) {
    return std::any_of(kHidden.begin(), kHidden.end(), [code](const auto& range) {
        return code >= range.first && code <= range.second;
    });
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `at` and its code point;
// 0 for anything else.
std::size_t Decode(const std::string& text, std::size_t at, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!IsContinuation(byte)) {
            return 0;
        }
        code = (code << 6) | (byte & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

// At most `limit` bytes of the name; a UTF-8 sequence the limit would split
// goes whole.
std::string CutName(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) {
        return name;
    }
    std::size_t end = limit;
    // A sequence is at most four bytes: no further back than its lead.
    for (int back = 0; back < 3 && end > 0 && IsContinuation(static_cast<unsigned char>(name[end]));
         ++back) {
        --end;
    }
    if (IsContinuation(static_cast<unsigned char>(name[end]))) {
        end = limit; // no sequence there to keep whole
    }
    return name.substr(0, end);
}

} // namespace

std::string BatchFileName(const std::string& sent, int number) {
    // Both separators: a sender on another system names folders its own way.
    const std::size_t separator = sent.find_last_of("/\\");
    std::string last = sent.substr(separator == std::string::npos ? 0 : separator + 1);
    if (last.size() >= 2 && last[1] == ':') {
        last.erase(0, 2); // "C:NAME"
    }
    std::string name;
    name.reserve(last.size());
    for (std::size_t at = 0; at < last.size();) {
        const auto byte = static_cast<unsigned char>(last[at]);
        char32_t code = 0;
        const std::size_t length = byte < 0x80 ? 1 : Decode(last, at, code);
        if (length == 0) {
            name.push_back(last[at++]); // not UTF-8: left as the sender wrote it
            continue;
        }
        const bool unsafe = length == 1 ? byte < 32 || byte == 127 : IsHidden(code);
        if (unsafe) {
            name.push_back('_');
        } else {
            name.append(last, at, length);
        }
        at += length;
    }
    name = CutName(name, kMaxNameBytes);
    if (name.empty() || name == "." || name == "..") {
        name = "download-" + std::to_string(number);
    }
    return name;
}

std::string NameWithSuffix(const std::string& name, const std::string& suffix) {
    // The extension stays last, so the file still opens with what opens its
    // kind: a dot that begins the name (a hidden file) or ends it, or one
    // before a long run, starts no extension.
    constexpr std::size_t kMaxExtension = 16;
    const std::size_t dot = name.find_last_of('.');
    const bool extended = dot != std::string::npos && dot > 0 && dot + 1 < name.size() &&
                          name.size() - dot <= kMaxExtension;
    const std::string extension = extended ? name.substr(dot) : std::string();
    const std::string stem = extended ? name.substr(0, dot) : name;
    const std::size_t kept = suffix.size() + extension.size();
    const std::size_t room = kMaxNameBytes > kept ? kMaxNameBytes - kept : 0;
    return CutName(stem, room) + suffix + extension;
}

void TLengthMismatches::Clear() {
    m_count = 0;
    m_first.clear();
}

void TLengthMismatches::Note(const std::string& name, std::uint64_t arrived,
                             std::uint64_t announced) {
    if (m_count++ == 0) {
        m_first = name + ": " + std::to_string(arrived) + " of " + std::to_string(announced) +
                  " bytes, " + (arrived < announced ? "shorter" : "longer") + " than announced";
    }
}

std::string TLengthMismatches::Summary() const {
    if (m_count <= 1) {
        return m_first;
    }
    const int more = m_count - 1;
    return m_first + "; " + std::to_string(more) + (more == 1 ? " more file" : " more files") +
           " not as announced";
}

} // namespace telvora
