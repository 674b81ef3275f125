// The serial devices offered for selection, read from a sysfs-like tree.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "connection/serial/port_list.h"

namespace fs = std::filesystem;

namespace {

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvora-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        fs::create_directories(m_root / "devices/platform/serial8250");
        fs::create_directories(m_root / "devices/usb");
        fs::create_directories(m_root / "class/tty");
    }
    void TearDown() override { fs::remove_all(m_root); }

    // A tty; withDevice links it to hardware, uartType writes its "type" file.
    void AddTty(const std::string& name, bool withDevice, int uartType = -1) {
        const fs::path dir = m_root / "devices/virtual" / name;
        fs::create_directories(dir);
        if (withDevice) {
            fs::create_directory_symlink(m_root / "devices/usb", dir / "device");
        }
        if (uartType >= 0) {
            std::ofstream(dir / "type") << uartType << "\n";
        }
        fs::create_directory_symlink(dir, m_root / "class/tty" / name);
    }

    fs::path ClassTty() const { return m_root / "class/tty"; }

    fs::path m_root;
};

} // namespace

TEST_F(FakeSysfs, ListsHardwareBackedTtysAsDevicePathsInNaturalOrder) {
    AddTty("tty0", false);
    AddTty("console", false);
    AddTty("ptmx", false);
    AddTty("ttyS0", true, 4); // a 16550A
    AddTty("ttyS1", true, 0); // an empty 8250 slot
    AddTty("ttyS10", true, 4);
    AddTty("ttyS2", true, 4);
    AddTty("ttyUSB0", true);
    AddTty("ttyACM0", true);
    const std::vector<std::string> ports = ListSerialPorts(ClassTty(), "/dev");
    const std::vector<std::string> expected = {"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS2",
                                               "/dev/ttyS10", "/dev/ttyUSB0"};
    EXPECT_EQ(ports, expected);
}

TEST_F(FakeSysfs, NoSerialDevicesOrNoTreeGiveAnEmptyList) {
    AddTty("tty1", false);
    EXPECT_TRUE(ListSerialPorts(ClassTty(), "/dev").empty());
    EXPECT_TRUE(ListSerialPorts(m_root / "missing", "/dev").empty());
}

TEST(PortList, NaturalOrderComparesNumbersByValue) {
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyACM9", "ttyS0"));
    EXPECT_TRUE(NaturalLess("ttyUSB1", "ttyUSB01x"));
    EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
}

TEST(PortList, ThisMachinesListNamesOpenableDevicePaths) {
    for (const std::string& port : ListSerialPorts()) {
        EXPECT_EQ(port.rfind("/dev/tty", 0), 0u) << port;
    }
}
