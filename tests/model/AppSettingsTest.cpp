#include "model/AppSettings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("settings.json"); }
    std::unique_ptr<SettingsStore> store() { return std::make_unique<SettingsStore>(path()); }

    // Settings loaded from a store that a previous run filled by `fill`.
    std::unique_ptr<AppSettings> loadWith(const std::function<void(SettingsStore&)>& fill) {
        {
            SettingsStore seed(path());
            fill(seed);
            EXPECT_TRUE(seed.commit());
        }
        return std::make_unique<AppSettings>(store());
    }
    static QString key(const char* name) { return QLatin1String(AppSettings::prefix) + QLatin1String(name); }
    static QByteArray rule(int from, int to, const char* label) {
        return QStringLiteral(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","from":%1,"to":%2,"label":"%3"}])")
            .arg(from)
            .arg(to)
            .arg(QLatin1String(label))
            .toUtf8();
    }
};

} // namespace

TEST_F(AppSettingsTest, ASaveIsPrivateAtOnceAndLoadsBackWithItsKinds) {
    {
        AppSettings settings(store());
        EXPECT_FALSE(QFile::exists(path())); // nothing is written before a change
        settings.setUseSpotify(true);
        settings.setMaxConcurrentRequests(7);
        settings.setApiKey("sk-secret");
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // it holds secrets, before any reload
    SettingsStore reread(path());
    EXPECT_TRUE(reread.object(key("useSpotify"))->isBool());
    EXPECT_EQ(reread.integer(key("maxConcurrent")), 7);
    AppSettings again(store());
    EXPECT_TRUE(again.useSpotify());
    EXPECT_EQ(again.apiKey(), QStringLiteral("sk-secret"));
    EXPECT_EQ(again.decadeRules(), defaultDecadeRules());
}

TEST_F(AppSettingsTest, StoredValuesOfTheWrongKindOrRangeFallBack) {
    for (const int stored : {0, -2}) {
        EXPECT_EQ(loadWith([&](SettingsStore& s) { s.setInteger(key("maxConcurrent"), stored); })
                      ->maxConcurrentRequests(),
                  3);
    }
    const auto fifty = loadWith([](SettingsStore& s) { s.setInteger(key("maxConcurrent"), 50); });
    EXPECT_EQ(fifty->maxConcurrentRequests(), 50);
    EXPECT_EQ(fifty->currentSnapshot()->boundedConcurrency(), 10);
    EXPECT_TRUE(loadWith([](SettingsStore& s) { s.setString(key("useMusicBrainz"), "false"); })->useMusicBrainz());
}

TEST_F(AppSettingsTest, StoredRulesMergeWithMissingBuiltInsAndSortStably) {
    const auto rules = loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), rule(1980, 1990, "80s")); })
                           ->decadeRules();
    ASSERT_EQ(rules.size(), 9);
    EXPECT_EQ(rules[3].label, QStringLiteral("80s")); // the stored rule first among equal starts
    EXPECT_EQ(rules[4].label, QStringLiteral("80er"));
    EXPECT_EQ(rules[5].from, 1990);
    const auto replaced = loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), rule(1980, 1989, "X")); });
    ASSERT_EQ(replaced->decadeRules().size(), 8);
    EXPECT_EQ(replaced->decadeRules()[3].label, QStringLiteral("X"));
    for (const char* stored : {"[]", R"([{"from":1}])"}) {
        EXPECT_EQ(loadWith([&](SettingsStore& s) { s.setData(key("decadeRules"), stored); })->decadeRules(),
                  defaultDecadeRules());
    }
}
