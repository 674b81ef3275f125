// Host, port and protocol texts as a user may type them into the host
// directory: the input split at NUL bytes into a host, a port and a protocol.
// Each is checked against the plain rules written out below:
//   - a dotted address is four groups of decimal digits, each at most 255,
//     maybe with spaces around; it never goes to the name lookup;
//   - any other host name goes to the lookup, which here is a stand-in that
//     answers from the name alone (no name server is ever asked);
//   - a port or protocol starting with digits is that number, if in range;
//   - the host directory's blank trimming, case-free search and integer test.
#include "common/text_helpers.h"
#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/winsock_errors.h"
#include "directory/host_directory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "socket address: %s\n", what);
        std::abort();
    }
}

bool StartsWith(const std::string& text, std::string_view start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] == ' ') {
        ++first;
    }
    while (last > first && text[last - 1] == ' ') {
        --last;
    }
    return text.substr(first, last - first);
}

bool Contains(std::string_view text, std::string_view sought) {
    for (std::size_t at = 0; at + sought.size() <= text.size(); ++at) {
        bool same = true;
        for (std::size_t i = 0; i < sought.size() && same; ++i) {
            same = Lower(text[at + i]) == Lower(sought[i]);
        }
        if (same) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

// The address of a dotted text in host order.
std::optional<std::uint32_t> DottedAddress(const std::string& text) {
    const std::vector<std::string> groups = Split(Trim(text), '.');
    if (groups.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    for (const std::string& group : groups) {
        if (group.empty()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (char c : group) {
            if (!IsDigit(c)) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 255) {
                return std::nullopt;
            }
        }
        address = address << 8 | value;
    }
    return address;
}

// The digits at the start, after spaces: nullopt without any, -1 past limit.
std::optional<long> LeadingNumber(const std::string& text, long limit) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    if (pos == text.size() || !IsDigit(text[pos])) {
        return std::nullopt;
    }
    long value = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > limit) {
            return -1;
        }
    }
    return value;
}

// A signed decimal of 32 bits, maybe with spaces around.
bool IsInteger32(const std::string& text) {
    std::string digits = Trim(text);
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    if (digits.empty()) {
        return false;
    }
    long long value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) {
            return false;
        }
    }
    return value <= (negative ? 2147483648LL : 2147483647LL);
}

// Stands in for the system's lookup: remembers the name and answers from it.
std::string g_lookedUp;
int g_lookups = 0;
constexpr in_addr_t kFoundAddress = 0x0A000001;

int FakeLookup(const std::string& name, in_addr_t& address) {
    g_lookedUp = name;
    ++g_lookups;
    if (name.size() % 2 == 0) {
        address = kFoundAddress;
        return 0;
    }
    return kWsaHostNotFound;
}

template <typename Call> std::optional<std::string> Failure(Call call) {
    try {
        call();
    } catch (const ESocketException& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

void CheckHost(const std::string& host) {
    std::uint32_t parsed = 0x12345678;
    const bool dotted = ParseDottedAddress(host, parsed);
    const std::optional<std::uint32_t> expected = DottedAddress(host);
    Check(dotted == expected.has_value(), "dotted or not");
    Check(!dotted || parsed == *expected, "dotted address");

    g_lookups = 0;
    in_addr_t address = 0;
    const std::optional<std::string> failure =
        Failure([&] { address = WSocketResolveHost(host, FakeLookup); });
    if (host.empty() || host.size() > 256) {
        Check(failure == "WSocketResolveHost: '" + host + "' Invalid Hostname.", "host length");
        Check(g_lookups == 0, "a host name of a wrong length was looked up");
    } else if (expected) {
        Check(g_lookups == 0, "a dotted address was looked up");
        if (*expected == 0xFFFFFFFFu && host != "255.255.255.255") {
            Check(failure == "WSocketResolveHost: '" + host + "' Invalid IP address.",
                  "all-ones address");
        } else {
            Check(!failure && address == htonl(*expected), "resolved dotted address");
        }
    } else {
        Check(g_lookups == 1 && g_lookedUp == host, "a host name was not looked up once");
        if (host.size() % 2 == 0) {
            Check(!failure && address == kFoundAddress, "looked-up address");
        } else {
            Check(failure &&
                      StartsWith(*failure, "WSocketResolveHost: Cannot convert host "
                                           "address '") &&
                      EndsWith(*failure, "', Error #11001"),
                  "failed lookup message");
        }
    }
}

void CheckPort(const std::string& port, const std::string& proto) {
    std::uint16_t resolved = 0;
    const std::optional<std::string> failure =
        Failure([&] { resolved = WSocketResolvePort(port, proto); });
    if (port.empty() || port.size() > 31) {
        Check(failure == "WSocketResolvePort: Invalid Port.", "port length");
        return;
    }
    if (proto.empty() || proto.size() > 31) {
        Check(failure == "WSocketResolvePort: Invalid Proto.", "proto length");
        return;
    }
    const std::optional<long> number = LeadingNumber(port, 65535);
    if (number && *number >= 0) {
        Check(!failure && resolved == htons(static_cast<std::uint16_t>(*number)), "port number");
    } else if (number) {
        Check(failure == "WSocketResolvePort: Invalid Port.", "port number too large");
    } else if (failure) {
        // A service name the system's list does not have.
        Check(StartsWith(*failure, "WSocketResolvePort: Cannot convert port '") &&
                  EndsWith(*failure, "', Error #11004"),
              "unknown service message");
    }
}

void CheckProto(const std::string& proto) {
    int resolved = -1;
    const std::optional<std::string> failure =
        Failure([&] { resolved = WSocketResolveProto(proto); });
    if (proto.empty() || proto.size() > 31) {
        Check(failure == "WSocketResolveProto: Invalid Protocol.", "protocol length");
        return;
    }
    const std::optional<long> number = LeadingNumber(proto, 255);
    if (number && *number >= 0) {
        Check(!failure && resolved == *number, "protocol number");
    } else if (number) {
        Check(failure == "WSocketResolveProto: Invalid Protocol.", "protocol number too large");
    } else if (proto == "tcp" || proto == "udp") {
        Check(!failure && resolved == (proto == "tcp" ? 6 : 17), "tcp and udp");
    } else if (failure) {
        Check(StartsWith(*failure, "WSocketResolveProto: Cannot convert protocol '") &&
                  EndsWith(*failure, "', Error #11004"),
              "unknown protocol message");
    } else {
        Check(resolved >= 0, "protocol number from the system");
    }
}

void CheckTextRules(const std::string& text, const std::string& sought) {
    Check(telvora::TrimBlanks(text) == Trim(text), "TrimBlanks");
    Check(telvora::ContainsNoCase(text, sought) == Contains(text, sought), "ContainsNoCase");
    // Any piece of a text, in any case, is found in it.
    if (!text.empty()) {
        const std::size_t from = sought.size() % text.size();
        std::string piece = text.substr(from, text.size() % 7 + 1);
        for (std::size_t i = 0; i < piece.size(); i += 2) {
            const char c = piece[i];
            piece[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : Lower(c);
        }
        Check(telvora::ContainsNoCase(text, piece), "a piece of the text is not found");
    }
    std::string lower = text;
    for (char& c : lower) {
        c = Lower(c);
    }
    Check(telvora::LowerAscii(text) == lower, "LowerAscii");
    Check(telvora::THostDirectory::IsInteger(text) == IsInteger32(text), "IsInteger");
    Check(telvora::THostDirectory::IsPortValueName(text) == Contains(text, "-port"),
          "IsPortValueName");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields = Split(input, '\0');
    fields.resize(std::max<std::size_t>(fields.size(), 3));
    const std::string& host = fields[0];
    const std::string& port = fields[1];
    const std::string& proto = fields[2].empty() ? std::string("tcp") : fields[2];

    CheckHost(host);
    CheckPort(port, proto);
    CheckProto(proto);
    CheckTextRules(host, port);
    CheckTextRules(port, proto);
    // A port as the host directory keeps it is one the socket takes.
    if (telvora::THostDirectory::IsInteger(port) && port.size() <= 31) {
        const std::string trimmed = telvora::TrimBlanks(port);
        if (IsDigit(trimmed[0]) && LeadingNumber(port, 65535).value_or(-1) >= 0) {
            Check(!Failure([&] { WSocketResolvePort(port, "tcp"); }), "an integer port");
        }
    }
    return 0;
}
