#include "connection/telnet/winsock_errors.h"

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

// Every number the messages can carry, with its text.
TEST(WinsockErrors, TextTable) {
    const std::pair<int, const char*> table[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Address not available"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Connection aborted"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(WinsockErrorText(code), text) << code;
    }
}

} // namespace
