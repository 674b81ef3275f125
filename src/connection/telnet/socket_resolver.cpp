#include "connection/telnet/socket_resolver.h"

#include "connection/telnet/winsock_errors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netdb.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t kMaxHostLength = 256;
constexpr std::size_t kMaxPortLength = 31;
constexpr long kMaxPort = 65535;
constexpr long kMaxProto = 255;
// Winsock's answer when a service or protocol name is unknown.
constexpr int kWsaNoData = 11004;
// Room for the reentrant netdb lookups.
constexpr std::size_t kLookupBufferSize = 4096;
// Returned by LeadingNumber.
constexpr long kNotANumber = -1;
constexpr long kNumberTooLarge = -2;

std::string Format(const char* pattern, const std::string& text, int number) {
    char message[512];
    std::snprintf(message, sizeof message, pattern, text.c_str(), number);
    return message;
}

// The leading decimal digits after leading spaces, kNotANumber when the text
// does not start with a digit there, kNumberTooLarge past limit.
long LeadingNumber(const std::string& text, long limit) {
    std::size_t pos = text.find_first_not_of(' ');
    if (pos == std::string::npos || text[pos] < '0' || text[pos] > '9') {
        return kNotANumber;
    }
    long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > limit) {
            return kNumberTooLarge;
        }
    }
    return value;
}

} // namespace

int SystemHostLookup(const std::string& name, in_addr_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        return WinsockErrorFromResolver(rc != 0 ? rc : EAI_NONAME, errno);
    }
    address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return 0;
}

bool ParseDottedAddress(const std::string& text, std::uint32_t& hostOrder) {
    std::size_t pos = text.find_first_not_of(' ');
    const std::size_t end = text.find_last_not_of(' ');
    if (pos == std::string::npos) {
        return false;
    }
    std::uint32_t value = 0;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (pos > end || text[pos] != '.') {
                return false;
            }
            ++pos;
        }
        int part = 0;
        std::size_t digits = 0;
        while (pos <= end && text[pos] >= '0' && text[pos] <= '9') {
            part = part * 10 + (text[pos] - '0');
            if (part > 255) {
                return false;
            }
            ++pos;
            ++digits;
        }
        if (digits == 0) {
            return false;
        }
        value = (value << 8) | static_cast<std::uint32_t>(part);
    }
    if (pos != end + 1) {
        return false;
    }
    hostOrder = value;
    return true;
}

in_addr_t WSocketResolveHost(const std::string& name, THostLookup lookup) {
    if (name.empty() || name.size() > kMaxHostLength) {
        throw ESocketException("WSocketResolveHost: '" + name + "' Invalid Hostname.");
    }
    std::uint32_t hostOrder = 0;
    if (ParseDottedAddress(name, hostOrder)) {
        // All ones is how a failed conversion reads, unless it was meant.
        if (hostOrder == 0xFFFFFFFFu && name != "255.255.255.255") {
            throw ESocketException("WSocketResolveHost: '" + name + "' Invalid IP address.");
        }
        return htonl(hostOrder);
    }
    in_addr_t address = 0;
    const int code = lookup(name, address);
    if (code != 0) {
        throw ESocketException(
            Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", name, code));
    }
    return address;
}

int WSocketResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() > kMaxPortLength) {
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    }
    const long number = LeadingNumber(proto, kMaxProto);
    if (number >= 0) {
        return static_cast<int>(number);
    }
    if (number == kNumberTooLarge) {
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    }
    protoent entry{};
    protoent* found = nullptr;
    char buffer[kLookupBufferSize];
    if (::getprotobyname_r(proto.c_str(), &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        return found->p_proto;
    }
    // A minimal system may lack /etc/protocols; these two never change.
    if (proto == "tcp") {
        return IPPROTO_TCP;
    }
    if (proto == "udp") {
        return IPPROTO_UDP;
    }
    throw ESocketException(
        Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", proto, kWsaNoData));
}

std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() > kMaxPortLength) {
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    }
    if (proto.empty() || proto.size() > kMaxPortLength) {
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    }
    // A number past 65535 would silently connect to another port.
    const long number = LeadingNumber(port, kMaxPort);
    if (number >= 0) {
        return htons(static_cast<std::uint16_t>(number));
    }
    if (number == kNumberTooLarge) {
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    }
    servent entry{};
    servent* found = nullptr;
    char buffer[kLookupBufferSize];
    if (::getservbyname_r(port.c_str(), proto.c_str(), &entry, buffer, sizeof buffer, &found) ==
            0 &&
        found != nullptr) {
        return static_cast<std::uint16_t>(found->s_port);
    }
    throw ESocketException(
        Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", port, kWsaNoData));
}
