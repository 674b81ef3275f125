// Writes the program's two sounds as RIFF WAVE files (PCM, 16-bit, stereo,
// 44100 Hz): key.wav, the click played for every key sent, and beep.wav, the
// buzzer. Both are synthesised here so the sounds are entirely our own.
//
//   make_waves [OUTPUT-DIR]     (default: resources/sounds)

#include "output_files.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint32_t kBytesPerFrame = kChannels * kBitsPerSample / 8;

// The program plays these as they are, so the sample-data sizes are fixed.
constexpr std::uint32_t kKeyDataBytes = 1888;
constexpr std::uint32_t kBeepDataBytes = 49824;

constexpr double kFullScale = 32767.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Key click: a hard edge followed by a fast-dying metallic ring.
constexpr double kClickLevel = 0.55;
constexpr double kClickRingHz = 2800.0;
constexpr double kClickSecondHz = 5100.0;
constexpr double kClickDecaySeconds = 0.0018;
constexpr double kClickEdgeSeconds = 0.0004;

// Buzzer: a square-ish tone made of its first odd harmonics, so it buzzes
// like the Atari's speaker without the aliasing of a raw square wave.
constexpr double kBeepHz = 440.0;
constexpr double kBeepLevel = 0.30;
constexpr int kBeepHarmonics = 9; // 1, 3, 5, 7, 9
constexpr double kBeepFadeSeconds = 0.006;

using Samples = std::vector<double>; // mono, -1..1

Samples MakeKeyClick(std::size_t frames) {
    Samples s(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double envelope = std::exp(-t / kClickDecaySeconds);
        double v =
            0.7 * std::sin(kTwoPi * kClickRingHz * t) + 0.3 * std::sin(kTwoPi * kClickSecondHz * t);
        if (t < kClickEdgeSeconds) {
            v += 1.0; // the contact closing: one sharp push of the cone
        }
        s[i] = kClickLevel * envelope * std::clamp(v, -1.0, 1.0);
    }
    // The ring has died away by the end; make the very last sample silent so
    // that consecutive clicks do not pop.
    s.back() = 0.0;
    return s;
}

double FadeGain(std::size_t i, std::size_t frames, std::size_t fadeFrames) {
    const std::size_t fromEnd = frames - 1 - i;
    const std::size_t edge = std::min(i, fromEnd);
    if (edge >= fadeFrames) {
        return 1.0;
    }
    // Raised cosine: starts and ends with zero slope, so no click.
    const double x = static_cast<double>(edge) / static_cast<double>(fadeFrames);
    return 0.5 - 0.5 * std::cos(std::numbers::pi * x);
}

Samples MakeBeep(std::size_t frames) {
    Samples s(frames);
    const auto fadeFrames = static_cast<std::size_t>(kBeepFadeSeconds * kSampleRate);
    double peak = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        double v = 0.0;
        for (int h = 1; h <= kBeepHarmonics; h += 2) {
            v += std::sin(kTwoPi * kBeepHz * h * t) / h;
        }
        s[i] = v;
        peak = std::max(peak, std::abs(v));
    }
    for (std::size_t i = 0; i < frames; ++i) {
        s[i] = kBeepLevel * FadeGain(i, frames, fadeFrames) * s[i] / peak;
    }
    return s;
}

void PutU16(std::vector<char>& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::vector<char>& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

void PutTag(std::vector<char>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

std::vector<char> EncodeWave(const Samples& mono) {
    const auto dataBytes = static_cast<std::uint32_t>(mono.size() * kBytesPerFrame);
    std::vector<char> out;
    PutTag(out, "RIFF");
    PutU32(out, 36 + dataBytes);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1); // PCM
    PutU16(out, kChannels);
    PutU32(out, kSampleRate);
    PutU32(out, kSampleRate * kBytesPerFrame);
    PutU16(out, static_cast<std::uint16_t>(kBytesPerFrame));
    PutU16(out, kBitsPerSample);
    PutTag(out, "data");
    PutU32(out, dataBytes);
    for (double v : mono) {
        const auto sample =
            static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * kFullScale));
        for (int c = 0; c < kChannels; ++c) {
            PutU16(out, static_cast<std::uint16_t>(sample));
        }
    }
    return out;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<char>& bytes) {
    return telvora::tools::WriteOutputFile("make_waves", path, bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    const auto found =
        telvora::tools::OutputDirectory("make_waves", argc, argv, "resources/sounds");
    if (!found) {
        return argc > 2 ? 2 : 1;
    }
    const std::filesystem::path& dir = *found;
    const bool ok =
        WriteFile(dir / "key.wav", EncodeWave(MakeKeyClick(kKeyDataBytes / kBytesPerFrame))) &&
        WriteFile(dir / "beep.wav", EncodeWave(MakeBeep(kBeepDataBytes / kBytesPerFrame)));
    return ok ? 0 : 1;
}
