// The port selection dialog with injected device lists.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include "connection/serial/port_list.h"
#include "connection/serial/select_port.h"

namespace {

std::vector<std::string> TwoPorts() {
    return {"/dev/ttyUSB0", "/dev/ttyS0"};
}

// Clicks a button once the dialog runs modally.
void ClickWhenShown(QPushButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
}

} // namespace

TEST(SelectPort, FormAsTheUserSeesIt) {
    TSelectPort dialog(nullptr, TwoPorts);
    EXPECT_EQ(dialog.windowTitle(), "Select Serial Port To Use");
    EXPECT_FALSE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(dialog.ComboBox1->count(), 2);
    EXPECT_EQ(dialog.ComboBox1->itemText(0), "/dev/ttyUSB0");
    EXPECT_EQ(dialog.ComboBox1->itemText(1), "/dev/ttyS0");
    EXPECT_EQ(dialog.BitBtn1->width(), 169);
    EXPECT_EQ(dialog.BitBtn2->width(), 72);
    EXPECT_EQ(dialog.width(), 241);
    EXPECT_EQ(dialog.height(), 50);
}

TEST(SelectPort, FirstPortIsPreselectedAndOkReturnsIt) {
    TSelectPort dialog(nullptr, TwoPorts);
    EXPECT_EQ(dialog.PortCount(), 2);
    EXPECT_EQ(dialog.ComboBox1->currentIndex(), 0);
    EXPECT_EQ(dialog.SelectedPort(), "/dev/ttyUSB0");
    ClickWhenShown(dialog.BitBtn1);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.SelectedPort(), "/dev/ttyUSB0");
}

TEST(SelectPort, PickingAnotherEntryChangesTheSelectedPort) {
    TSelectPort dialog(nullptr, TwoPorts);
    dialog.ComboBox1->setCurrentIndex(1);
    EXPECT_EQ(dialog.SelectedPort(), "/dev/ttyS0");
    ClickWhenShown(dialog.BitBtn1);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.SelectedPort(), "/dev/ttyS0");
}

TEST(SelectPort, CancelAndClosingAreNotOk) {
    TSelectPort dialog(nullptr, TwoPorts);
    ClickWhenShown(dialog.BitBtn2);
    EXPECT_NE(dialog.exec(), QDialog::Accepted);

    TSelectPort closed(nullptr, TwoPorts);
    QTimer::singleShot(0, &closed, [&closed] { closed.close(); });
    EXPECT_NE(closed.exec(), QDialog::Accepted);
}

TEST(SelectPort, NoPortsGiveACountOfZero) {
    TSelectPort dialog(nullptr, [] { return std::vector<std::string>{}; });
    EXPECT_EQ(dialog.PortCount(), 0);
    EXPECT_TRUE(dialog.SelectedPort().isEmpty());
}

TEST(SelectPort, TheMachinesOwnListIsUsedByDefault) {
    const std::vector<std::string> ports = ListSerialPorts();
    TSelectPort dialog;
    ASSERT_EQ(dialog.PortCount(), static_cast<int>(ports.size()));
    for (int i = 0; i < dialog.ComboBox1->count(); ++i) {
        EXPECT_EQ(dialog.ComboBox1->itemText(i).toStdString(), ports[static_cast<std::size_t>(i)]);
    }
}
