#include "connection/serial/port_list.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// A serial8250 slot with no chip behind it reports port type 0 (unknown).
bool HasUart(const fs::path& ttyDir) {
    std::ifstream type(ttyDir / "type");
    int value = -1;
    if (!(type >> value)) {
        return true;
    }
    return value != 0;
}

bool IsSerialDevice(const fs::path& ttyDir) {
    std::error_code error;
    if (!fs::exists(ttyDir / "device", error)) {
        return false;
    }
    const std::string name = ttyDir.filename().string();
    if (name.rfind("ttyS", 0) == 0) {
        return HasUart(ttyDir);
    }
    return true;
}

} // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && IsDigit(b[endB])) {
                ++endB;
            }
            // Compare the numbers by value: skip leading zeros, then by length, then digits.
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            const std::string_view numA(a.data() + startA, endA - startA);
            const std::string_view numB(b.data() + startB, endB - startB);
            if (numA.size() != numB.size()) {
                return numA.size() < numB.size();
            }
            if (numA != numB) {
                return numA < numB;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b;
}

std::vector<std::string> ListSerialPorts(const fs::path& sysClassTty, const fs::path& devDir) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(sysClassTty, error), end; !error && it != end;
         it.increment(error)) {
        if (IsSerialDevice(it->path())) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> ports;
    ports.reserve(names.size());
    for (const std::string& name : names) {
        ports.push_back((devDir / name).string());
    }
    return ports;
}
