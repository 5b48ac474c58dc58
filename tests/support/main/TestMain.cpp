// Entry of every test executable. Each process gets its own temporary config, data and cache
// folders first, so that nothing a test does (settings, debug log) reaches the user's files.
// The widget tests need a QApplication (offscreen unless told otherwise), the others a
// QCoreApplication, so that view models and services can deliver queued results. Each test
// starts from the settings a new process has, also where the executable runs whole.
#ifdef VELMORA_WIDGET_TESTS
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <QDir>

#include "model/AppSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Puts the shared settings back to the defaults (the config folder is new) when a test ends.
class SharedSettingsReset : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (AppSettings::snapshot() == m_untouched) {
            return; // not made yet
        }
        AppSettings& s = AppSettings::shared();
        const SettingsSnapshot d = SettingsSnapshot::defaults();
        for (const AIProviderType provider : allAIProviderTypes()) {
            s.setSelectedProvider(provider);
            s.setApiKey(d.apiKey(provider));
        }
        s.setSelectedProvider(d.selectedProvider);
        s.setAppearance(d.appearance);
        s.setAppLanguage(d.appLanguage);
        s.setModelName(d.modelName);
        s.setCustomEndpoint(d.customEndpoint);
        s.setUseMusicBrainz(d.useMusicBrainz);
        s.setUseExistingYearTag(d.useExistingYearTag);
        s.setWriteDecadeToGenre(d.writeDecadeToGenre);
        s.setDecadeRules(d.decadeRules);
        s.setUseLastFM(d.useLastFM);
        s.setLastFMApiKey(d.lastFMApiKey);
        s.setUseSpotify(d.useSpotify);
        s.setSpotifyClientId(d.spotifyClientId);
        s.setSpotifyClientSecret(d.spotifyClientSecret);
        s.setUseDiscogs(d.useDiscogs);
        s.setRepairBrokenTagStructure(d.repairBrokenTagStructure);
        s.setEnableGenreLookup(d.enableGenreLookup);
        s.setGenreOverwriteExisting(d.genreOverwriteExisting);
        s.setApplyGenreMappings(d.applyGenreMappings);
        s.setAutoAddGenreMappings(d.autoAddGenreMappings);
        s.setGenreMappings(d.genreMappings);
        s.setMaxConcurrentRequests(d.maxConcurrentRequests);
        s.setRequestTimeoutSeconds(d.requestTimeoutSeconds);
        s.setDebugLogging(d.debugLogging);
    }

    const std::shared_ptr<const SettingsSnapshot> m_untouched = AppSettings::snapshot();
};

} // namespace

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
    ::testing::UnitTest::GetInstance()->listeners().Append(new SharedSettingsReset);
    return RUN_ALL_TESTS();
}
