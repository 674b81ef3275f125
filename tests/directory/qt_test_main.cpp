// Entry point of the Qt tests of the host directory: the settings they write
// go to a temporary configuration folder, never to the user's own.
#include "temp_config.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Set before anything asks QStandardPaths, which caches the location.
    const QString root = telvora::test::TempConfigRoot();
    if (root.isEmpty()) {
        std::cerr << "cannot create a temporary configuration folder\n";
        return EXIT_FAILURE;
    }
    qputenv("XDG_CONFIG_HOME", QDir(root).filePath(QStringLiteral("xdg")).toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDir(root).removeRecursively();
    return result;
}
