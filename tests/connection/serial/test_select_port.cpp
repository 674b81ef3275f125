// The port selection dialog with injected device lists.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include "connection/serial/port_list.h"
#include "connection/serial/select_port.h"
#include "connection/serial/serial_settings_dialog.h"

#include <QApplication>

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
    // A path can be typed (a pseudo-terminal, an emulator's port).
    EXPECT_TRUE(dialog.ComboBox1->isEditable());
    EXPECT_EQ(dialog.ComboBox1->count(), 2);
    EXPECT_EQ(dialog.ComboBox1->itemText(0), "/dev/ttyUSB0");
    EXPECT_EQ(dialog.ComboBox1->itemText(1), "/dev/ttyS0");
    EXPECT_EQ(dialog.SettingsButton->text(), "Serial Settings...");
    EXPECT_EQ(dialog.BitBtn2->width(), 72);
    // Room for the whole title beside the window manager's buttons.
    EXPECT_GE(dialog.width(), dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) + 96);
    EXPECT_EQ(dialog.height(), 50);
}

TEST(SelectPort, SerialSettingsAreChosenBesideThePort) {
    TSelectPort dialog(nullptr, TwoPorts);
    QTimer::singleShot(0, &dialog, [] {
        auto* settings = qobject_cast<TSerialSettingsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->SpeedBox->currentText(), "19200");
        settings->SpeedBox->setCurrentText("9600");
        settings->DataBitsBox->setCurrentText("7");
        settings->ParityBox->setCurrentIndex(1);
        settings->StopBitsBox->setCurrentText("2");
        settings->FlowBox->setCurrentIndex(2);
        settings->OkButton->click();
    });
    dialog.SettingsButton->click();
    EXPECT_EQ(dialog.SerialSettings().StoredText(), "9600 7E2 xonxoff");
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
