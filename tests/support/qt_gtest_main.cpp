// GoogleTest main for tests that need a QApplication (widgets, timers, signals).
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every test program, and every program it starts, keeps its data and its
    // settings in a folder of its own: a run stored in the default results
    // store, or the window's remembered fields, never reach the user's. A test
    // that wants a store names one.
    QTemporaryDir home;
    if (home.isValid()) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        // Files, not the registry on Windows, which outlives the program.
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.filePath(QStringLiteral("settings")));
    }
    qunsetenv("QUORVID_RESULTS");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvid"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVID_VERSION));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
