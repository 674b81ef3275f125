#include "connection/winsock_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>

namespace {

TEST(WinsockErrors, PlatformErrorsReadAsWinsockMessages) {
    EXPECT_EQ(WinsockErrorMessage(WinsockErrorFromErrno(ECONNREFUSED), "Connect"),
              "Error 10061 in function Connect\r\nConnection refused");
    EXPECT_EQ(WinsockErrorMessage(WinsockErrorFromErrno(ENOTCONN), "Send"),
              "Error 10057 in function Send\r\nSocket is not connected");
    const std::pair<int, int> pairs[] = {
        {ETIMEDOUT, 10060},   {ECONNRESET, 10054},   {EWOULDBLOCK, 10035}, {EAGAIN, 10035},
        {EINPROGRESS, 10035}, {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {EADDRINUSE, 10048},
        {EPIPE, 10053},       {EBADF, 10009},        {EINVAL, 10022},      {ENOTSOCK, 10038},
    };
    for (const auto& [errnoValue, code] : pairs) {
        EXPECT_EQ(WinsockErrorFromErrno(errnoValue), code) << "errno " << errnoValue;
        EXPECT_NE(WinsockErrorText(code), "Not a WinSock error") << code;
    }
}

TEST(WinsockErrors, ResolverErrors) {
    EXPECT_EQ(WinsockErrorFromResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(WinsockErrorFromResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(WinsockErrorFromResolver(EAI_FAIL, 0), 11003);
    EXPECT_EQ(WinsockErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorText(11001), "Host not found");
    EXPECT_EQ(WinsockErrorText(11004), "No Data");
}

TEST(WinsockErrors, UnknownCodes) {
    EXPECT_EQ(WinsockErrorText(0), "No Error");
    EXPECT_EQ(WinsockErrorText(10000), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorText(-1), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorMessage(12345, "Recv"),
              "Error 12345 in function Recv\r\nNot a WinSock error");
}

} // namespace
