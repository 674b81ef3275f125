#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Every failure of the serial port components. The message is the error text
// followed by " (Error: <code>) "; the code is the errno of the failed call,
// or -1 for failures that have no system error.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& text, std::int32_t errorCode);

    std::int32_t ErrorCode() const { return m_errorCode; }

private:
    std::int32_t m_errorCode;
};

// The message ECommError carries for a text and a code.
std::string CommErrorMessage(const std::string& text, std::int32_t errorCode);
