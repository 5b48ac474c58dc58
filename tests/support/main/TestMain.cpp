// Entry of every test executable. Each process gets its own folder first, holding its config,
// data, cache, runtime and temporary folders, so that nothing a test does (settings, debug log)
// reaches the user's files; it is removed when the tests end, passed or failed, with whatever
// a test left in it.
// The widget tests need a QApplication (offscreen unless told otherwise), the others a
// QCoreApplication, so that view models and services can deliver queued results. Each test
// starts from the settings a new process has, also where the executable runs whole.
#ifdef VELMORA_WIDGET_TESTS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QMetaProperty>

#include "TestFiles.h"
#include "model/AppSettings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include <sys/stat.h>

namespace {

// Puts the shared settings back, when a test ends, to those of a new process: those of an
// instance over a store that holds nothing, property by property.
class SharedSettingsReset : public ::testing::EmptyTestEventListener {
public:
    explicit SharedSettingsReset(QString emptyStore) : m_emptyStore(std::move(emptyStore)) {}

private:
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (AppSettings::snapshot() == m_untouched) {
            return; // not made yet
        }
        AppSettings& shared = AppSettings::shared();
        const AppSettings fresh(std::make_unique<SettingsStore>(m_emptyStore));
        for (const AIProviderType provider : allAIProviderTypes()) { // a property shows one key only
            shared.setSelectedProvider(provider);
            shared.setApiKey({});
        }
        const QMetaObject& meta = AppSettings::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            meta.property(i).write(&shared, meta.property(i).read(&fresh));
        }
    }

    const QString m_emptyStore; // never written
    const std::shared_ptr<const SettingsSnapshot> m_untouched = AppSettings::snapshot();
};

} // namespace

int main(int argc, char** argv) {
    // The system's temporary folder where TMPDIR names none.
    const char* tmpdir = std::getenv("TMPDIR");
    std::error_code error;
    const std::string parent =
        tmpdir != nullptr && *tmpdir == '/' && std::filesystem::is_directory(tmpdir, error) ? tmpdir : "/tmp";
    std::string base = parent + "/velmora-test-XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) {
        std::fprintf(stderr, "Cannot make the tests' folder in %s: %s\n", parent.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // Nobody else may write in it, so nobody else can put a name in the way of its removal; other
    // users may pass through to a folder of theirs inside (a test writes as another user).
    ::chmod(base.c_str(), 0711);
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const std::string dir = base + "/" + name;
        ::mkdir(dir.c_str(), 0700);
        ::setenv(name, dir.c_str(), 1);
    }
    ::chmod((base + "/TMPDIR").c_str(), 0711);
    int result = 1;
    {
#ifdef VELMORA_WIDGET_TESTS
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) { // test discovery runs outside CTest
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QApplication app(argc, argv);
#else
        QCoreApplication app(argc, argv);
#endif
        ::testing::InitGoogleTest(&argc, argv);
        ::testing::UnitTest::GetInstance()->listeners().Append(
            new SharedSettingsReset(QString::fromStdString(base + "/no-settings.json")));
        result = RUN_ALL_TESTS();
    }
    TestFiles::removeTree(std::filesystem::path(base));
    return result;
}
