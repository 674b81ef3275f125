#pragma once

#include "connection/throttle.h"

#include <array>
#include <optional>
#include <string_view>

namespace telvora {

// One entry of a menu whose handler reads the entry's tag (Speed, Size): its
// component name, caption, the word the command line uses for it, and tag.
struct TTaggedEntry {
    const char* name;
    const char* caption;
    std::string_view option;
    int tag;
};

inline constexpr std::array<TTaggedEntry, 5> kSpeedEntries{{
    {"N300BPS1", "300 BPS", "300", 300},
    {"N600BPS1", "600 BPS", "600", 600},
    {"N1200BPS1", "1200 BPS", "1200", 1200},
    {"N2400BPS1", "2400 BPS", "2400", 2400},
    {"FullSpeed1", "Disable Throttle", "max", kUnthrottledSpeed},
}};

inline constexpr std::array<TTaggedEntry, 3> kSizeEntries{{
    {"Small1", "Small", "small", 0},
    {"Medium1", "Medium", "medium", 8},
    {"Large1", "Large", "large", 16},
}};

// The tag of the entry the command line calls `option`.
template <std::size_t N>
constexpr std::optional<int> TagForOption(const std::array<TTaggedEntry, N>& entries,
                                          std::string_view option) {
    for (const TTaggedEntry& entry : entries) {
        if (entry.option == option) {
            return entry.tag;
        }
    }
    return std::nullopt;
}

} // namespace telvora
