#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

// Turning the socket's text settings (host, port, protocol) into numbers,
// with the messages the program shows when that fails. Every failure raises
// ESocketException (connection/winsock_errors.h).

// Asks the system for the first IPv4 address of a name. Returns 0 and the
// address in network order, or the Winsock number of the failure.
using THostLookup = int (*)(const std::string& name, in_addr_t& address);
int SystemHostLookup(const std::string& name, in_addr_t& address);

// True for four dot-separated decimal groups of at most 255 each, optionally
// surrounded by spaces; hostOrder then holds the address.
bool ParseDottedAddress(const std::string& text, std::uint32_t& hostOrder);

// A dotted address directly, any other name through lookup. Network order.
in_addr_t WSocketResolveHost(const std::string& name, THostLookup lookup = SystemHostLookup);
// A number (leading decimal digits) or a service name for proto. Network order.
std::uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
// A number (leading decimal digits) or a protocol name.
int WSocketResolveProto(const std::string& proto);
