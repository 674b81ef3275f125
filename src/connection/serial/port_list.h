#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Where the kernel lists its terminal devices, and where their nodes live.
inline const std::filesystem::path kSysClassTty = "/sys/class/tty";
inline const std::filesystem::path kDevDir = "/dev";

// The serial devices present, as paths under devDir, in a stable order (by
// name, numbers compared as numbers: ttyS2 before ttyS10). A serial device is
// a tty backed by hardware (it has a "device" link): USB adapters, and UARTs
// the kernel found a chip for (a ttyS* whose "type" is 0 has none behind it).
std::vector<std::string> ListSerialPorts(const std::filesystem::path& sysClassTty = kSysClassTty,
                                         const std::filesystem::path& devDir = kDevDir);

// Orders device names with embedded numbers compared by value.
bool NaturalLess(const std::string& a, const std::string& b);
