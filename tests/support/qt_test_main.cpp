// main for widget tests: GoogleTest inside a QApplication on the offscreen
// platform. Linked as a static library, so a test with its own main keeps it.
// Whatever the tests or Qt write to the user's configuration (settings, the
// file dialogs' history) goes to a temporary folder of this run, never to the
// user's own.
#include "temp_config.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    // A desktop of 1920 x 1080, on which every Size of the window fits.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" TELVORA_SOURCE_DIR "/tests/support/offscreen_screen.json");
    }
    // Set before anything asks QStandardPaths, which caches the location.
    const QString root = telvora::test::TempConfigRoot();
    if (root.isEmpty()) {
        std::cerr << "cannot create a temporary configuration folder\n";
        return EXIT_FAILURE;
    }
    qputenv("XDG_CONFIG_HOME", QDir(root).filePath(QStringLiteral("xdg")).toUtf8());
    int result = EXIT_FAILURE;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    QDir(root).removeRecursively();
    return result;
}
