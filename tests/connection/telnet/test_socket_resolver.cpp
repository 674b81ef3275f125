#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/winsock_errors.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// Stands in for the system's name lookups: records what it is asked and
// answers with the error (or addresses) the test chose.
Names g_lookedUp;
int g_lookupError = 0;
in_addr_t g_lookupAddress = 0;
std::vector<TSocketAddress> g_listAnswer;

int FakeLookup(const std::string& name, in_addr_t& address) {
    g_lookedUp.push_back(name);
    address = g_lookupAddress;
    return g_lookupError;
}

int FakeListLookup(const std::string& name, std::vector<TSocketAddress>& addresses) {
    g_lookedUp.push_back(name);
    addresses = g_listAnswer;
    return g_lookupError;
}

class SocketResolver : public ::testing::Test {
protected:
    void SetUp() override {
        g_lookedUp.clear();
        g_lookupError = 0;
        g_lookupAddress = htonl(0x0A000001);
        in6_addr six{};
        ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::1", &six), 1);
        // Whatever port a lookup leaves in, the socket sets its own.
        TSocketAddress withPort = TSocketAddress::IPv4(htonl(0x0A000002));
        withPort.SetPort(htons(99));
        g_listAnswer = {TSocketAddress::IPv6(six), withPort};
    }
};

// What a step gives, as text: its result, or the message of what it raised.
std::string Outcome(const std::function<std::string()>& step) {
    try {
        return step();
    } catch (const ESocketException& e) {
        return e.what();
    }
}

std::string Dotted(in_addr_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    return inet_ntoa(address);
}

std::string Texts(const std::vector<TSocketAddress>& addresses) {
    std::string texts;
    for (const auto& address : addresses) {
        texts += (texts.empty() ? "" : " ") + address.Text();
    }
    return texts;
}

std::string CannotConvert(const std::string& name, int error) {
    return "WSocketResolveHost: Cannot convert host address '" + name + "', Error #" +
           std::to_string(error);
}

const std::string kLongName(257, 'a');
const std::string kTooLong = "WSocketResolveHost: '" + kLongName + "' Invalid Hostname.";

struct HostCase {
    std::string name;
    std::string outcome;
    bool lookedUp = false;
    int lookupError = 0;
    bool oneAddressLookup = false; // WSocketResolveHostAddresses given the IPv4 lookup
};

std::string OneAddress(const std::string& name) {
    return Dotted(WSocketResolveHost(name, FakeLookup));
}
std::string EveryAddress(const std::string& name) {
    return Texts(WSocketResolveHostAddresses(name, FakeListLookup));
}
std::string EveryAddressByTheIPv4Lookup(const std::string& name) {
    return Texts(WSocketResolveHostAddresses(name, FakeLookup));
}

void ExpectHost(const HostCase& c, std::string (*resolve)(const std::string&)) {
    SCOPED_TRACE("host '" + c.name + "'");
    g_lookedUp.clear();
    g_lookupError = c.lookupError;
    EXPECT_EQ(Outcome([&] { return resolve(c.name); }), c.outcome);
    EXPECT_EQ(g_lookedUp, c.lookedUp ? Names{c.name} : Names{});
}

TEST_F(SocketResolver, OneAddressOfAHost) {
    const HostCase cases[] = {
        // Dotted addresses are taken without a lookup.
        {"127.0.0.1", "127.0.0.1"},
        {"  10.20.30.40  ", "10.20.30.40"},
        {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", "255.255.255.255"},
        // All ones only as the broadcast text.
        {"255.255.255.0255", "WSocketResolveHost: '255.255.255.0255' Invalid IP address."},
        {" 255.255.255.255", "WSocketResolveHost: ' 255.255.255.255' Invalid IP address."},
        // A failed lookup names the host and the Winsock error.
        {"127.0.0.256", CannotConvert("127.0.0.256", 11001), true, 11001},
        {"bbs.example", CannotConvert("bbs.example", 11002), true, 11002},
        // A name has 1 to 256 characters.
        {"", "WSocketResolveHost: '' Invalid Hostname."},
        {kLongName, kTooLong},
    };
    for (const HostCase& c : cases) {
        ExpectHost(c, OneAddress);
    }
    // A group over 255, too few or too many groups, a sign or letters, or the
    // longest name: not an address, so a name.
    for (const std::string& name :
         Names{"127.0.0.256", "1.2.3", "1.2.3.4.5", "1.2.3.-4", "1..2.3", "1.2.3.4x", "bbs.example",
               "1. 2.3.4", std::string(256, 'a')}) {
        ExpectHost({name, "10.0.0.1", true}, OneAddress);
    }
}

TEST_F(SocketResolver, EveryAddressOfAHost) {
    const HostCase cases[] = {
        // IPv6 addresses in digits are taken without a lookup, by either kind.
        {"::1", "::1"},
        {"[::1]", "::1"},
        {"2001:db8::17", "2001:db8::17"},
        {"::ffff:10.1.2.3", "::ffff:10.1.2.3"},
        {"::1", "::1", false, 0, true},
        // So are dotted addresses, with the messages of WSocketResolveHost.
        {" 10.20.30.40 ", "10.20.30.40"},
        {"255.255.255.0255", "WSocketResolveHost: '255.255.255.0255' Invalid IP address."},
        {"", "WSocketResolveHost: '' Invalid Hostname."},
        {kLongName, kTooLong},
        // Names give every address in the lookup's order, including names
        // that only look like an address: two colons but not IPv6, a bracket
        // left open.
        {"bbs.example", "2001:db8::1 10.0.0.2", true},
        {"a:b:c", "2001:db8::1 10.0.0.2", true},
        {"[::1", "2001:db8::1 10.0.0.2", true},
        {"bbs.example", "10.0.0.1", true, 0, true},
        // A failed lookup reads as before.
        {"bbs.example", CannotConvert("bbs.example", 11001), true, 11001},
        {"bbs.example", CannotConvert("bbs.example", 11001), true, 11001, true},
    };
    for (const HostCase& c : cases) {
        ExpectHost(c, c.oneAddressLookup ? EveryAddressByTheIPv4Lookup : EveryAddress);
    }
    // A lookup that answers with nothing has not found the host.
    g_listAnswer.clear();
    ExpectHost({"bbs.example", CannotConvert("bbs.example", 11001), true}, EveryAddress);
}

TEST_F(SocketResolver, AddressesComeWithTheirFamilyAndNoPort) {
    const auto six = WSocketResolveHostAddresses("::1", FakeListLookup);
    const auto four = WSocketResolveHostAddresses(" 10.20.30.40 ", FakeListLookup);
    const auto named = WSocketResolveHostAddresses("bbs.example", FakeListLookup);
    ASSERT_EQ(six.size(), 1u);
    ASSERT_EQ(four.size(), 1u);
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(six[0].Family(), AF_INET6);
    EXPECT_EQ(six[0].Port(), 0);
    EXPECT_EQ(four[0].Family(), AF_INET);
    EXPECT_EQ(named[1].Port(), 0);
}

// A host name with characters no host name may have is refused by the
// system's lookup itself, without asking a name server.
TEST_F(SocketResolver, SystemLookups) {
    EXPECT_EQ(Outcome([] { return Dotted(WSocketResolveHost("no such host!")); }),
              CannotConvert("no such host!", 11001));
    EXPECT_EQ(Dotted(WSocketResolveHost("localhost")), "127.0.0.1");
    EXPECT_EQ(Outcome([] { return Texts(WSocketResolveHostAddresses("no such host!")); }),
              CannotConvert("no such host!", 11001));
    const std::string every = " " + Texts(WSocketResolveHostAddresses("localhost")) + " ";
    EXPECT_NE(every.find(" 127.0.0.1 "), std::string::npos) << every;
}

TEST_F(SocketResolver, PortsAndProtocols) {
    const auto port = [](const std::string& text, const std::string& proto = "tcp") {
        return Outcome([&] { return std::to_string(ntohs(WSocketResolvePort(text, proto))); });
    };
    const std::string badPort = "WSocketResolvePort: Invalid Port.";
    const std::string badProto = "WSocketResolvePort: Invalid Proto.";
    EXPECT_EQ(port("23"), "23");
    // The leading digits after leading spaces make the number.
    EXPECT_EQ(port("  8023x"), "8023");
    EXPECT_EQ(port("65535"), "65535");
    EXPECT_EQ(port("65536"), badPort);
    EXPECT_EQ(port(""), badPort);
    EXPECT_EQ(port(std::string(32, '1')), badPort);
    EXPECT_EQ(port("23", ""), badProto);
    EXPECT_EQ(port("23", std::string(32, 't')), badProto);
    EXPECT_EQ(port("nosuchservice"),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");

    const auto proto = [](const std::string& text) {
        return Outcome([&] { return std::to_string(WSocketResolveProto(text)); });
    };
    const std::string bad = "WSocketResolveProto: Invalid Protocol.";
    EXPECT_EQ(proto("tcp"), "6");
    EXPECT_EQ(proto("17"), "17");
    EXPECT_EQ(proto(" 6abc"), "6");
    EXPECT_EQ(proto(""), bad);
    EXPECT_EQ(proto(std::string(32, 'x')), bad);
    EXPECT_EQ(proto("256"), bad);
    EXPECT_EQ(proto("nosuchproto"),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");
}

TEST_F(SocketResolver, IPv6Parsing) {
    TSocketAddress address;
    EXPECT_TRUE(ParseIPv6Address("::", address));
    EXPECT_TRUE(ParseIPv6Address("[fe80::1]", address));
    // A link-local address keeps its zone.
    ASSERT_TRUE(ParseIPv6Address("fe80::1%1", address));
    EXPECT_EQ(reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_scope_id, 1u);
    for (const std::string text : {"", "1.2.3.4", "[]", "[::1", "::1]", "[[::1]]", ":::", "1:2",
                                   "::1 ", "[::1]:23", "::g"}) {
        EXPECT_FALSE(ParseIPv6Address(text, address)) << text;
    }
}

// A connect races the families in turn, IPv6 first, each in the order the
// system gave: one broken family costs one attempt's delay.
TEST(InterleaveFamilies, TakesIPv6AndIPv4InTurnIPv6First) {
    const auto four = [](std::uint32_t last) {
        return TSocketAddress::IPv4(htonl(0x0A000000 + last));
    };
    const auto six = [](std::uint8_t last) {
        in6_addr address{};
        address.s6_addr[15] = last;
        return TSocketAddress::IPv6(address);
    };
    const std::pair<std::vector<TSocketAddress>, std::string> cases[] = {
        {{four(1), four(2), six(1), six(2), six(3)}, "::1 10.0.0.1 ::2 10.0.0.2 ::3"},
        {{four(1), four(2)}, "10.0.0.1 10.0.0.2"},
        {{six(1), four(1)}, "::1 10.0.0.1"},
        {{}, ""}};
    for (const auto& [given, raced] : cases) {
        EXPECT_EQ(Texts(InterleaveFamilies(given)), raced);
    }
}

} // namespace
