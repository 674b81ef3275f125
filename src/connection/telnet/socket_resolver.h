#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

// Turning the socket's text settings (host, port, protocol) into numbers,
// with the messages the program shows when that fails. Every failure raises
// ESocketException (connection/winsock_errors.h).

// One peer address, IPv4 or IPv6, in the form the socket calls take.
struct TSocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    // networkOrder: the address as in_addr holds it.
    static TSocketAddress IPv4(in_addr_t networkOrder);
    static TSocketAddress IPv6(const in6_addr& address, std::uint32_t scopeId = 0);
    // An address of either family from what getaddrinfo or accept returned;
    // an empty address (length 0) for any other family.
    static TSocketAddress From(const sockaddr* address, socklen_t length);

    int Family() const { return storage.ss_family; }
    const sockaddr* Data() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // The port in network order; 0 when none is set.
    std::uint16_t Port() const;
    void SetPort(std::uint16_t networkOrder);
    // The address alone as digits: "127.0.0.1", "::1", "fe80::1%2".
    std::string Text() const;
    bool operator==(const TSocketAddress& other) const;
};

// Asks the system for the first IPv4 address of a name. Returns 0 and the
// address in network order, or the Winsock number of the failure. Kept for
// callers that stand in for the lookup with a slow or failing one; the socket
// itself asks SystemHostAddressLookup when given this one.
using THostLookup = int (*)(const std::string& name, in_addr_t& address);
int SystemHostLookup(const std::string& name, in_addr_t& address);

// Asks for every address of a name, IPv6 and IPv4, in the order the system
// prefers them (RFC 6724), so a connect can try one after the other. Returns
// 0 and at least one address, or the Winsock number of the failure.
using THostAddressLookup = int (*)(const std::string& name, std::vector<TSocketAddress>& addresses);
int SystemHostAddressLookup(const std::string& name, std::vector<TSocketAddress>& addresses);

// True for four dot-separated decimal groups of at most 255 each, optionally
// surrounded by spaces; hostOrder then holds the address.
bool ParseDottedAddress(const std::string& text, std::uint32_t& hostOrder);

// True for an IPv6 address in digits, with or without the brackets of a URL
// and with an optional zone ("fe80::1%eth0"); address then holds it.
bool ParseIPv6Address(const std::string& text, TSocketAddress& address);

// A dotted address directly, any other name through lookup. Network order.
in_addr_t WSocketResolveHost(const std::string& name, THostLookup lookup = SystemHostLookup);

// Every address to try for a host, in order: a dotted IPv4 address or an
// IPv6 address in digits directly, any other name through lookup. The
// messages are WSocketResolveHost's. The ports are left 0.
std::vector<TSocketAddress>
WSocketResolveHostAddresses(const std::string& name,
                            THostAddressLookup lookup = SystemHostAddressLookup);
// The same with a lookup that knows one IPv4 address only.
std::vector<TSocketAddress> WSocketResolveHostAddresses(const std::string& name,
                                                        THostLookup lookup);

// The addresses in the order a connect races them: IPv6 and IPv4 taken in
// turn, IPv6 first, each family in its own order (RFC 8305), so that a
// broken family costs one attempt's delay, not all of its addresses.
std::vector<TSocketAddress> InterleaveFamilies(std::vector<TSocketAddress> addresses);

// A number (leading decimal digits) or a service name for proto. Network order.
std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
// A number (leading decimal digits) or a protocol name.
int WSocketResolveProto(const std::string& proto);
