#pragma once

#include <stdexcept>
#include <string>

// Socket errors are reported with the Winsock numbers and texts that the
// program's messages are written in ("Error 10061 in function Connect" CR LF
// "Connection refused"), whatever the platform's own codes are.

// Raised by the socket component and its name resolution, with the message
// the user is shown.
class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEInvalidArgument = 10022;
inline constexpr int kWsaENotSocket = 10038;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENotConnected = 10057;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaHostNotFound = 11001;

// The Winsock number for a POSIX errno value. An errno without a Winsock
// counterpart is returned unchanged, so its text reads "Not a WinSock error".
int WinsockErrorFromErrno(int errnoValue);

// The Winsock number for a getaddrinfo() result code (EAI_*). EAI_SYSTEM
// takes errnoValue through WinsockErrorFromErrno.
int WinsockErrorFromResolver(int eaiCode, int errnoValue);

// The text of a Winsock number; "Not a WinSock error" for unknown numbers.
std::string WinsockErrorText(int code);

// "Error <code> in function <function>" CR LF "<text of code>".
std::string WinsockErrorMessage(int code, const std::string& function);
