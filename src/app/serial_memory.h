#pragma once

#include "connection/serial/serial_settings.h"

#include <string>

namespace telvora {

// The serial line's settings and the last port chosen, kept between runs in
// the user's settings beside the host directory. What cannot be read gives
// the defaults (19200 8N1, no flow control) and no port.
TSerialSettings RememberedSerialSettings();
void RememberSerialSettings(const TSerialSettings& settings);
std::string RememberedSerialPort();
void RememberSerialPort(const std::string& port);

} // namespace telvora
