#pragma once

#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace telvora {

// Removes space characters (code 32 only) from both ends; tabs and other
// white space stay, as users type them into host names and descriptions.
std::string TrimBlanks(std::string_view text);

// True when part occurs in text, both compared after turning A..Z into a..z.
// Only ASCII letters are folded, so the result never depends on the locale.
bool ContainsNoCase(std::string_view text, std::string_view part);

// Turns A..Z into a..z and leaves every other byte as it is.
std::string LowerAscii(std::string_view text);

// A whole number from 0 to most, written in decimal digits alone: no sign, no
// blanks, nothing after it. None otherwise.
std::optional<int> ParseWholeNumber(std::string_view text,
                                    int most = std::numeric_limits<int>::max());

} // namespace telvora
