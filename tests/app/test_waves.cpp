// The committed key-click and buzzer sounds are loaded and played as they are,
// so their format must be exactly what the player is told to expect.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBits = 16;
constexpr std::uint32_t kKeyDataBytes = 1888;
constexpr std::uint32_t kBeepDataBytes = 49824;

struct Wave {
    std::uint16_t format = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
    std::vector<std::int16_t> left;  // one channel's samples
    std::vector<std::int16_t> right; // the other's
    std::uint32_t dataBytes = 0;
};

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t U16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool TagAt(const std::vector<unsigned char>& b, std::size_t at, const char* tag) {
    return std::equal(tag, tag + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
}

// Walks the RIFF chunks as a player would; nullopt with a failure recorded
// when the file is not a well-formed WAVE file.
std::optional<Wave> ParseWave(const std::string& path) {
    const auto b = ReadAll(path);
    if (b.size() < 12 || !TagAt(b, 0, "RIFF") || !TagAt(b, 8, "WAVE")) {
        ADD_FAILURE() << path << " is not a RIFF WAVE file (" << b.size() << " bytes)";
        return std::nullopt;
    }
    EXPECT_EQ(U32(b, 4), b.size() - 8) << "RIFF size of " << path;
    Wave w;
    bool haveFormat = false;
    bool haveData = false;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::uint32_t size = U32(b, at + 4);
        const std::size_t body = at + 8;
        if (body + size > b.size()) {
            ADD_FAILURE() << "chunk runs past the end of " << path;
            return std::nullopt;
        }
        if (TagAt(b, at, "fmt ") && size >= 16) {
            w.format = U16(b, body);
            w.channels = U16(b, body + 2);
            w.sampleRate = U32(b, body + 4);
            w.byteRate = U32(b, body + 8);
            w.blockAlign = U16(b, body + 12);
            w.bits = U16(b, body + 14);
            haveFormat = true;
        } else if (TagAt(b, at, "data")) {
            w.dataBytes = size;
            for (std::size_t i = body; i + 3 < body + size; i += 4) {
                w.left.push_back(static_cast<std::int16_t>(U16(b, i)));
                w.right.push_back(static_cast<std::int16_t>(U16(b, i + 2)));
            }
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData) {
        ADD_FAILURE() << path << " lacks its fmt or data chunk";
        return std::nullopt;
    }
    return w;
}

std::string SoundPath(const char* name) {
    return std::string(TELVORA_SOURCE_DIR) + "/resources/sounds/" + name;
}

int Peak(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from; i < to && i < s.size(); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(s[i])));
    }
    return peak;
}

void ExpectPlayerFormat(const Wave& w, std::uint32_t dataBytes) {
    EXPECT_EQ(w.format, 1) << "not PCM";
    EXPECT_EQ(w.channels, kChannels);
    EXPECT_EQ(w.sampleRate, kSampleRate);
    EXPECT_EQ(w.bits, kBits);
    EXPECT_EQ(w.blockAlign, kChannels * kBits / 8);
    EXPECT_EQ(w.byteRate, kSampleRate * w.blockAlign);
    EXPECT_EQ(w.dataBytes, dataBytes);
    EXPECT_EQ(w.left, w.right) << "both channels carry the same sound";
}

TEST(Waves, KeyClickIsAShortSharpDecayingClick) {
    const auto w = ParseWave(SoundPath("key.wav"));
    ASSERT_TRUE(w.has_value());
    ExpectPlayerFormat(*w, kKeyDataBytes);
    const std::size_t n = w->left.size();
    ASSERT_EQ(n, kKeyDataBytes / 4);
    const int attack = Peak(w->left, 0, n / 10);
    const int tail = Peak(w->left, n - n / 10, n);
    EXPECT_GT(attack, 8000) << "the click is too quiet to hear";
    EXPECT_LT(tail * 20, attack) << "the click does not die away";
    EXPECT_EQ(w->left.back(), 0) << "a click must end silent or repeated clicks pop";
}

TEST(Waves, BeepIsAFadedBuzzerToneAround440Hz) {
    const auto w = ParseWave(SoundPath("beep.wav"));
    ASSERT_TRUE(w.has_value());
    ExpectPlayerFormat(*w, kBeepDataBytes);
    const auto& s = w->left;
    ASSERT_EQ(s.size(), kBeepDataBytes / 4);
    EXPECT_LT(std::abs(s.front()), 100) << "starts with a pop";
    EXPECT_LT(std::abs(s.back()), 100) << "ends with a pop";
    EXPECT_GT(Peak(s, s.size() / 4, s.size() * 3 / 4), 6000) << "the tone is too quiet";
    // Count upward zero crossings to find the pitch.
    int rises = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            ++rises;
        }
    }
    const double seconds = static_cast<double>(s.size()) / kSampleRate;
    const double hz = rises / seconds;
    EXPECT_GT(hz, 380.0);
    EXPECT_LT(hz, 520.0);
}

} // namespace
