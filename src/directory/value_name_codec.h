#pragma once

#include <string>
#include <string_view>

namespace telvora {

// Value names in a settings file are escaped so that any description the user
// types (spaces, '/', '\', '=', '%', quotes, non-ASCII letters, even an empty
// one) survives the file format, which treats several of those as syntax.
// Letters, digits and '-' stay readable; every other byte becomes "_XX" with
// two upper-case hex digits; the empty name is "_" alone.
std::string EscapeValueName(std::string_view name);

// The inverse of EscapeValueName. A name not written by it (edited by hand)
// is taken literally wherever it is not a valid "_XX" sequence.
std::string UnescapeValueName(std::string_view stored);

} // namespace telvora
