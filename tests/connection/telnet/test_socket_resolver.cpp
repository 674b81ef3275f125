#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/winsock_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <string>
#include <vector>

namespace {

// Stands in for the system's name lookup: records what it is asked and
// answers with the error (or address) the test chose.
std::vector<std::string> g_lookedUp;
int g_lookupError = 0;
in_addr_t g_lookupAddress = 0;

int FakeLookup(const std::string& name, in_addr_t& address) {
    g_lookedUp.push_back(name);
    address = g_lookupAddress;
    return g_lookupError;
}

class SocketResolver : public ::testing::Test {
protected:
    void SetUp() override {
        g_lookedUp.clear();
        g_lookupError = 0;
        g_lookupAddress = htonl(0x0A000001);
    }
};

std::string Raised(const std::function<void()>& step) {
    try {
        step();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "no error";
}

std::string Dotted(in_addr_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    return inet_ntoa(address);
}

TEST_F(SocketResolver, DottedAddressesAreTakenWithoutALookup) {
    EXPECT_EQ(Dotted(WSocketResolveHost("127.0.0.1", FakeLookup)), "127.0.0.1");
    EXPECT_EQ(Dotted(WSocketResolveHost("  10.20.30.40  ", FakeLookup)), "10.20.30.40");
    EXPECT_EQ(Dotted(WSocketResolveHost("0.0.0.0", FakeLookup)), "0.0.0.0");
    EXPECT_EQ(Dotted(WSocketResolveHost("255.255.255.255", FakeLookup)), "255.255.255.255");
    EXPECT_TRUE(g_lookedUp.empty());
}

TEST_F(SocketResolver, AllOnesOnlyAsTheBroadcastText) {
    EXPECT_EQ(Raised([] { WSocketResolveHost("255.255.255.0255", FakeLookup); }),
              "WSocketResolveHost: '255.255.255.0255' Invalid IP address.");
    EXPECT_EQ(Raised([] { WSocketResolveHost(" 255.255.255.255", FakeLookup); }),
              "WSocketResolveHost: ' 255.255.255.255' Invalid IP address.");
}

TEST_F(SocketResolver, AnythingElseGoesToTheNameLookup) {
    // A group over 255, too few or too many groups, a sign or letters: not
    // an address, so a name.
    const std::vector<std::string> names = {"127.0.0.256", "1.2.3",    "1.2.3.4.5",   "1.2.3.-4",
                                            "1..2.3",      "1.2.3.4x", "bbs.example", "1. 2.3.4"};
    for (const auto& name : names) {
        EXPECT_EQ(Dotted(WSocketResolveHost(name, FakeLookup)), "10.0.0.1") << name;
    }
    EXPECT_EQ(g_lookedUp, names);
}

TEST_F(SocketResolver, FailedLookupNamesTheHostAndTheWinsockError) {
    g_lookupError = 11001;
    EXPECT_EQ(Raised([] { WSocketResolveHost("127.0.0.256", FakeLookup); }),
              "WSocketResolveHost: Cannot convert host address '127.0.0.256', Error #11001");
    g_lookupError = 11002;
    EXPECT_EQ(Raised([] { WSocketResolveHost("bbs.example", FakeLookup); }),
              "WSocketResolveHost: Cannot convert host address 'bbs.example', Error #11002");
}

TEST_F(SocketResolver, HostNameLength) {
    EXPECT_EQ(Raised([] { WSocketResolveHost("", FakeLookup); }),
              "WSocketResolveHost: '' Invalid Hostname.");
    const std::string tooLong(257, 'a');
    EXPECT_EQ(Raised([&] { WSocketResolveHost(tooLong, FakeLookup); }),
              "WSocketResolveHost: '" + tooLong + "' Invalid Hostname.");
    WSocketResolveHost(std::string(256, 'a'), FakeLookup);
    EXPECT_EQ(g_lookedUp.size(), 1u);
}

// A host name with characters no host name may have is refused by the
// system's lookup itself, without asking a name server.
TEST_F(SocketResolver, SystemLookupOfAnImpossibleName) {
    EXPECT_EQ(Raised([] { WSocketResolveHost("no such host!"); }),
              "WSocketResolveHost: Cannot convert host address 'no such host!', Error #11001");
    EXPECT_EQ(Dotted(WSocketResolveHost("localhost")), "127.0.0.1");
}

TEST_F(SocketResolver, Ports) {
    EXPECT_EQ(ntohs(WSocketResolvePort("23", "tcp")), 23);
    // The leading digits after leading spaces make the number.
    EXPECT_EQ(ntohs(WSocketResolvePort("  8023x", "tcp")), 8023);
    EXPECT_EQ(ntohs(WSocketResolvePort("65535", "tcp")), 65535);
    EXPECT_EQ(Raised([] { WSocketResolvePort("65536", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(Raised([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(Raised([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(Raised([] { WSocketResolvePort("23", ""); }), "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(Raised([] { WSocketResolvePort("23", std::string(32, 't')); }),
              "WSocketResolvePort: Invalid Proto.");
    EXPECT_EQ(Raised([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
}

TEST_F(SocketResolver, Protocols) {
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(WSocketResolveProto(" 6abc"), 6);
    EXPECT_EQ(Raised([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(Raised([] { WSocketResolveProto(std::string(32, 'x')); }),
              "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(Raised([] { WSocketResolveProto("256"); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(Raised([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");
}

// ---------------------------------------------------------------- every address of a host

std::vector<TSocketAddress> g_listAnswer;

int FakeListLookup(const std::string& name, std::vector<TSocketAddress>& addresses) {
    g_lookedUp.push_back(name);
    addresses = g_listAnswer;
    return g_lookupError;
}

std::vector<std::string> Texts(const std::vector<TSocketAddress>& addresses) {
    std::vector<std::string> texts;
    for (const auto& address : addresses) {
        texts.push_back(address.Text());
    }
    return texts;
}

TEST_F(SocketResolver, IPv6AddressesInDigitsAreTakenWithoutALookup) {
    using Texts_ = std::vector<std::string>;
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("::1", FakeListLookup)), Texts_{"::1"});
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("[::1]", FakeListLookup)), Texts_{"::1"});
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("2001:db8::17", FakeListLookup)),
              Texts_{"2001:db8::17"});
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("::ffff:10.1.2.3", FakeListLookup)),
              Texts_{"::ffff:10.1.2.3"});
    // The one-address kind of lookup is not asked either.
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("::1", FakeLookup)), Texts_{"::1"});
    const auto address = WSocketResolveHostAddresses("::1", FakeListLookup).front();
    EXPECT_EQ(address.Family(), AF_INET6);
    EXPECT_EQ(address.Port(), 0);
    EXPECT_TRUE(g_lookedUp.empty());
}

TEST_F(SocketResolver, DottedAddressesGiveOneIPv4Address) {
    const auto addresses = WSocketResolveHostAddresses(" 10.20.30.40 ", FakeListLookup);
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(addresses[0].Family(), AF_INET);
    EXPECT_EQ(addresses[0].Text(), "10.20.30.40");
    EXPECT_TRUE(g_lookedUp.empty());
    // The IPv4 messages are those of WSocketResolveHost.
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("255.255.255.0255", FakeListLookup); }),
              "WSocketResolveHost: '255.255.255.0255' Invalid IP address.");
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("", FakeListLookup); }),
              "WSocketResolveHost: '' Invalid Hostname.");
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses(std::string(257, 'a'), FakeListLookup); }),
              "WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
}

TEST_F(SocketResolver, NamesGiveEveryAddressInTheLookupsOrder) {
    in6_addr six{};
    ASSERT_EQ(inet_pton(AF_INET6, "2001:db8::1", &six), 1);
    TSocketAddress withPort = TSocketAddress::IPv4(htonl(0x0A000002));
    withPort.SetPort(htons(99));
    g_listAnswer = {TSocketAddress::IPv6(six), withPort};
    const auto addresses = WSocketResolveHostAddresses("bbs.example", FakeListLookup);
    EXPECT_EQ(Texts(addresses), (std::vector<std::string>{"2001:db8::1", "10.0.0.2"}));
    // Whatever port a lookup left in, the socket sets its own.
    EXPECT_EQ(addresses[1].Port(), 0);
    // A name that only looks like an address (two colons but not IPv6, a
    // bracket left open) is a name.
    WSocketResolveHostAddresses("a:b:c", FakeListLookup);
    WSocketResolveHostAddresses("[::1", FakeListLookup);
    EXPECT_EQ(g_lookedUp, (std::vector<std::string>{"bbs.example", "a:b:c", "[::1"}));
}

TEST_F(SocketResolver, AFailedLookupOfEveryAddressReadsAsBefore) {
    g_lookupError = 11001;
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("bbs.example", FakeListLookup); }),
              "WSocketResolveHost: Cannot convert host address 'bbs.example', Error #11001");
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("bbs.example", FakeLookup); }),
              "WSocketResolveHost: Cannot convert host address 'bbs.example', Error #11001");
    // A lookup that answers with nothing has not found the host.
    g_lookupError = 0;
    g_listAnswer.clear();
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("bbs.example", FakeListLookup); }),
              "WSocketResolveHost: Cannot convert host address 'bbs.example', Error #11001");
}

TEST_F(SocketResolver, TheOneAddressLookupGivesItsAddress) {
    EXPECT_EQ(Texts(WSocketResolveHostAddresses("bbs.example", FakeLookup)),
              std::vector<std::string>{"10.0.0.1"});
}

TEST_F(SocketResolver, SystemLookupOfEveryAddress) {
    EXPECT_EQ(Raised([] { WSocketResolveHostAddresses("no such host!"); }),
              "WSocketResolveHost: Cannot convert host address 'no such host!', Error #11001");
    const auto texts = Texts(WSocketResolveHostAddresses("localhost"));
    EXPECT_NE(std::find(texts.begin(), texts.end(), "127.0.0.1"), texts.end())
        << ::testing::PrintToString(texts);
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
    const auto texts = [](const std::vector<TSocketAddress>& addresses) {
        std::vector<std::string> out;
        for (const TSocketAddress& address : addresses) {
            out.push_back(address.Text());
        }
        return out;
    };
    const std::vector<std::pair<std::vector<TSocketAddress>, std::vector<std::string>>> cases = {
        {{four(1), four(2), six(1), six(2), six(3)}, {"::1", "10.0.0.1", "::2", "10.0.0.2", "::3"}},
        {{four(1), four(2)}, {"10.0.0.1", "10.0.0.2"}},
        {{six(1), four(1)}, {"::1", "10.0.0.1"}},
        {{}, {}},
    };
    for (const auto& [given, raced] : cases) {
        EXPECT_EQ(texts(InterleaveFamilies(given)), raced);
    }
}

} // namespace
