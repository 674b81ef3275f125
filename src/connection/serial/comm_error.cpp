#include "connection/serial/comm_error.h"

std::string CommErrorMessage(const std::string& text, std::int32_t errorCode) {
    return text + " (Error: " + std::to_string(errorCode) + ") ";
}

ECommError::ECommError(const std::string& text, std::int32_t errorCode)
    : std::runtime_error(CommErrorMessage(text, errorCode)), m_errorCode(errorCode) {}
