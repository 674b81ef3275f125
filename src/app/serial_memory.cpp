#include "app/serial_memory.h"

#include "common/qt_text.h"
#include "directory/qt_settings_store.h"

#include <QSettings>

namespace telvora {

namespace {

const QString kSettingsKey = QStringLiteral("SerialLine/Settings");
const QString kPortKey = QStringLiteral("SerialLine/Port");

// A file of its own beside the directory's: saving the directory rewrites
// that file whole.
QSettings Store() {
    return QSettings(TQtSettingsStore::kProgramOrganization, QStringLiteral("Telvora-serial"));
}

} // namespace

TSerialSettings RememberedSerialSettings() {
    const QString stored = Store().value(kSettingsKey).toString();
    return ParseStoredSerialSettings(ToUtf8(stored)).value_or(TSerialSettings{});
}

void RememberSerialSettings(const TSerialSettings& settings) {
    Store().setValue(kSettingsKey, FromUtf8(settings.StoredText()));
}

std::string RememberedSerialPort() {
    return FileNameToSystem(Store().value(kPortKey).toString());
}

void RememberSerialPort(const std::string& port) {
    Store().setValue(kPortKey, FileNameFromSystem(port));
}

} // namespace telvora
