#pragma once

#include <QDir>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace telvora::test {

// The process-wide temporary folder (removed by the test main).
inline QString TempConfigRoot() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/telvora-test-config-XXXXXX"));
    if (!dir.isValid()) {
        return {};
    }
    dir.setAutoRemove(true);
    return dir.path();
}

// Points the user-scope settings at a fresh folder of their own and returns it.
inline QString FreshConfigFolder(const QString& name) {
    static int counter = 0;
    const QString path =
        QDir(TempConfigRoot()).filePath(QStringLiteral("%1-%2").arg(name).arg(++counter));
    QDir().mkpath(path);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    return path;
}

} // namespace telvora::test
