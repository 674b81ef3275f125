#pragma once

#include <cstdint>
#include <vector>

// Our data as Telnet carries it (RFC 854): every 255 doubled, so the server
// never takes it for a command; and while our direction is not binary
// (RFC 856), every CR followed by a NUL, so the server takes it for a CR and
// not for the start of a line end. A file with CR NUL or CR LF in it then
// arrives whole whichever way the server has negotiated.
std::vector<std::uint8_t> EncodeTelnetData(const std::uint8_t* bytes, int count, bool binary);
