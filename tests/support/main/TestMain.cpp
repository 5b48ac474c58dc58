// Entry of every test executable. Each process gets its own temporary config, data and cache
// folders first, so that nothing a test does (settings, debug log) reaches the user's files.
// The widget tests need a QApplication (offscreen unless told otherwise), the others a
// QCoreApplication, so that view models and services can deliver queued results.
#ifdef VELMORA_WIDGET_TESTS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    std::string base = (QDir::tempPath() + QStringLiteral("/velmora-test-XXXXXX")).toStdString();
    if (::mkdtemp(base.data()) == nullptr) {
        return 1;
    }
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const std::string dir = base + "/" + name;
        QDir().mkpath(QString::fromStdString(dir));
        ::setenv(name, dir.c_str(), 1);
    }
#ifdef VELMORA_WIDGET_TESTS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) { // test discovery runs outside CTest
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
