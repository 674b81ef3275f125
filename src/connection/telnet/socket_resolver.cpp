#include "connection/telnet/socket_resolver.h"

#include "connection/telnet/winsock_errors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

void CheckHostName(const std::string& name) {
    if (name.empty() || name.size() > kMaxHostLength) {
        throw ESocketException("WSocketResolveHost: '" + name + "' Invalid Hostname.");
    }
}

// A dotted address as the socket takes it, in network order.
bool DottedHost(const std::string& name, in_addr_t& networkOrder) {
    std::uint32_t hostOrder = 0;
    if (!ParseDottedAddress(name, hostOrder)) {
        return false;
    }
    // All ones is how a failed conversion reads, unless it was meant.
    if (hostOrder == 0xFFFFFFFFu && name != "255.255.255.255") {
        throw ESocketException("WSocketResolveHost: '" + name + "' Invalid IP address.");
    }
    networkOrder = htonl(hostOrder);
    return true;
}

// A dotted IPv4 or a digits IPv6 address, which no lookup is asked about.
bool LiteralAddress(const std::string& name, TSocketAddress& address) {
    if (in_addr_t dotted = 0; DottedHost(name, dotted)) {
        address = TSocketAddress::IPv4(dotted);
        return true;
    }
    return ParseIPv6Address(name, address);
}

[[noreturn]] void CannotConvertHost(const std::string& name, int code) {
    throw ESocketException(
        Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", name, code));
}

} // namespace

TSocketAddress TSocketAddress::IPv4(in_addr_t networkOrder) {
    TSocketAddress result;
    auto* in = reinterpret_cast<sockaddr_in*>(&result.storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = networkOrder;
    result.length = sizeof(sockaddr_in);
    return result;
}

TSocketAddress TSocketAddress::IPv6(const in6_addr& address, std::uint32_t scopeId) {
    TSocketAddress result;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&result.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = address;
    in6->sin6_scope_id = scopeId;
    result.length = sizeof(sockaddr_in6);
    return result;
}

TSocketAddress TSocketAddress::From(const sockaddr* address, socklen_t length) {
    TSocketAddress result;
    if (address == nullptr) {
        return result;
    }
    if ((address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) ||
        (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6))) {
        result.length = address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        std::memcpy(&result.storage, address, result.length);
    }
    return result;
}

std::uint16_t TSocketAddress::Port() const {
    if (Family() == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_port;
    }
    if (Family() == AF_INET6) {
        return reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port;
    }
    return 0;
}

void TSocketAddress::SetPort(std::uint16_t networkOrder) {
    if (Family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = networkOrder;
    } else if (Family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = networkOrder;
    }
}

std::string TSocketAddress::Text() const {
    char host[NI_MAXHOST] = {};
    if (length == 0 ||
        ::getnameinfo(Data(), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return "";
    }
    return host;
}

bool TSocketAddress::operator==(const TSocketAddress& other) const {
    if (Family() != other.Family() || length != other.length) {
        return false;
    }
    if (Family() == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
        const auto* b = reinterpret_cast<const sockaddr_in*>(&other.storage);
        return a->sin_addr.s_addr == b->sin_addr.s_addr && a->sin_port == b->sin_port;
    }
    if (Family() == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
        const auto* b = reinterpret_cast<const sockaddr_in6*>(&other.storage);
        return std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0 &&
               a->sin6_port == b->sin6_port && a->sin6_scope_id == b->sin6_scope_id;
    }
    return length == 0;
}

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

int SystemHostAddressLookup(const std::string& name, std::vector<TSocketAddress>& addresses) {
    addrinfo hints{};
    // Both families, without AI_ADDRCONFIG: an address this machine cannot
    // reach fails at once and the next one is tried, while a host known
    // only by IPv6 on a machine with nothing but loopback IPv6 still works.
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        return WinsockErrorFromResolver(rc != 0 ? rc : EAI_NONAME, errno);
    }
    addresses.clear();
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        const TSocketAddress address = TSocketAddress::From(entry->ai_addr, entry->ai_addrlen);
        if (address.length != 0 &&
            std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
            addresses.push_back(address);
        }
    }
    ::freeaddrinfo(result);
    return addresses.empty() ? kWsaHostNotFound : 0;
}

bool ParseIPv6Address(const std::string& text, TSocketAddress& address) {
    std::string digits = text;
    if (digits.size() >= 2 && digits.front() == '[' && digits.back() == ']') {
        digits = digits.substr(1, digits.size() - 2);
    }
    // Every IPv6 address in digits has a colon; anything else is no business
    // of the numeric parser.
    if (digits.find(':') == std::string::npos) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* result = nullptr;
    if (::getaddrinfo(digits.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return false;
    }
    address = TSocketAddress::From(result->ai_addr, result->ai_addrlen);
    ::freeaddrinfo(result);
    return address.length != 0;
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
    CheckHostName(name);
    in_addr_t address = 0;
    if (DottedHost(name, address)) {
        return address;
    }
    if (const int code = lookup(name, address); code != 0) {
        CannotConvertHost(name, code);
    }
    return address;
}

std::vector<TSocketAddress> WSocketResolveHostAddresses(const std::string& name,
                                                        THostAddressLookup lookup) {
    CheckHostName(name);
    if (TSocketAddress literal; LiteralAddress(name, literal)) {
        return {literal};
    }
    std::vector<TSocketAddress> addresses;
    const int code = lookup(name, addresses);
    if (code != 0 || addresses.empty()) {
        CannotConvertHost(name, code != 0 ? code : kWsaHostNotFound);
    }
    for (TSocketAddress& address : addresses) {
        address.SetPort(0);
    }
    return addresses;
}

std::vector<TSocketAddress> WSocketResolveHostAddresses(const std::string& name,
                                                        THostLookup lookup) {
    CheckHostName(name);
    if (TSocketAddress literal; LiteralAddress(name, literal)) {
        return {literal};
    }
    in_addr_t address = 0;
    if (const int code = lookup(name, address); code != 0) {
        CannotConvertHost(name, code);
    }
    return {TSocketAddress::IPv4(address)};
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

std::vector<TSocketAddress> InterleaveFamilies(std::vector<TSocketAddress> addresses) {
    std::vector<TSocketAddress> six;
    std::vector<TSocketAddress> others;
    for (TSocketAddress& address : addresses) {
        (address.Family() == AF_INET6 ? six : others).push_back(address);
    }
    std::vector<TSocketAddress> raced;
    raced.reserve(addresses.size());
    for (std::size_t i = 0; i < std::max(six.size(), others.size()); ++i) {
        if (i < six.size()) {
            raced.push_back(six[i]);
        }
        if (i < others.size()) {
            raced.push_back(others[i]);
        }
    }
    return raced;
}
