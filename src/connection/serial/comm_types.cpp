#include "connection/serial/comm_types.h"

int BaudRateValue(TBaudrate rate) {
    static constexpr int kValues[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000, 230400};
    return kValues[static_cast<int>(rate)];
}

int DatabitsValue(TDatabits bits) {
    return 4 + static_cast<int>(bits);
}

std::string CommDevicePath(const std::string& deviceName) {
    if (deviceName.find('/') != std::string::npos) {
        return deviceName;
    }
    return "/dev/" + deviceName;
}
