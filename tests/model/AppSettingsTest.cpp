#include "model/AppSettings.h"
#include "model/DebugLogger.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("settings.json"); }

    std::unique_ptr<SettingsStore> store() { return std::make_unique<SettingsStore>(path()); }

    // A store pre-filled by `fill` and committed, as a previous run would leave it.
    std::unique_ptr<AppSettings> loadWith(const std::function<void(SettingsStore&)>& fill) {
        {
            SettingsStore seed(path());
            fill(seed);
            EXPECT_TRUE(seed.commit());
        }
        return std::make_unique<AppSettings>(store());
    }

    static QString key(const char* name) {
        return QString::fromLatin1(AppSettings::prefix) + QLatin1String(name);
    }
};

QByteArray ruleJson(int from, int to, const char* label) {
    return QByteArray("[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"from\":") +
           QByteArray::number(from) + ",\"to\":" + QByteArray::number(to) + ",\"label\":\"" + label + "\"}]";
}

} // namespace

TEST_F(AppSettingsTest, EmptyStoreGivesDefaultsAndWritesNothing) {
    AppSettings settings(store());
    EXPECT_EQ(settings.selectedProvider(), AIProviderType::claude);
    EXPECT_EQ(settings.decadeRules().size(), 8);
    EXPECT_EQ(settings.genreMappings().size(), 199);
    EXPECT_TRUE(settings.useMusicBrainz());
    EXPECT_TRUE(settings.applyGenreMappings());
    EXPECT_FALSE(settings.useSpotify());
    EXPECT_EQ(settings.maxConcurrentRequests(), 3);
    EXPECT_EQ(settings.requestTimeoutSeconds(), 30);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(AppSettingsTest, OneChangeWritesAllKeysWithTheirKinds) {
    {
        AppSettings settings(store());
        settings.setUseSpotify(true);
        settings.setMaxConcurrentRequests(7);
        settings.setApiKey("sk-secret");
    }
    // The file holds secrets: owner-only permissions straight after the save.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    SettingsStore reread(path());
    EXPECT_EQ(reread.object(key("useSpotify"))->isBool(), true);
    EXPECT_EQ(reread.integer(key("maxConcurrent")), 7);
    EXPECT_EQ(reread.string(key("provider")), QStringLiteral("claude"));
    EXPECT_TRUE(reread.data(key("decadeRules")).has_value());
    // A new instance loads the same values back with their types.
    AppSettings again(store());
    EXPECT_TRUE(again.useSpotify());
    EXPECT_EQ(again.maxConcurrentRequests(), 7);
    EXPECT_EQ(again.apiKey(), QStringLiteral("sk-secret"));
    EXPECT_EQ(again.decadeRules(), defaultDecadeRules());
}

TEST_F(AppSettingsTest, IntegersBelowOneFallBackWithoutUpperBound) {
    auto zero = loadWith([](SettingsStore& s) { s.setInteger(key("maxConcurrent"), 0); });
    EXPECT_EQ(zero->maxConcurrentRequests(), 3);
    auto negative = loadWith([](SettingsStore& s) { s.setInteger(key("maxConcurrent"), -2); });
    EXPECT_EQ(negative->maxConcurrentRequests(), 3);
    EXPECT_EQ(negative->requestTimeoutSeconds(), 30);
    auto fifty = loadWith([](SettingsStore& s) { s.setInteger(key("maxConcurrent"), 50); });
    EXPECT_EQ(fifty->maxConcurrentRequests(), 50);
    EXPECT_EQ(fifty->currentSnapshot()->boundedConcurrency(), 10);
}

TEST_F(AppSettingsTest, ABoolKeyHoldingAnotherKindGivesTheDefault) {
    auto settings = loadWith([](SettingsStore& s) {
        s.setString(key("useMusicBrainz"), "false");
        s.setString(key("useSpotify"), "true");
        s.setInteger(key("useDiscogs"), 1);
    });
    EXPECT_TRUE(settings->useMusicBrainz());
    EXPECT_FALSE(settings->useSpotify());
    EXPECT_FALSE(settings->useDiscogs());
}

TEST_F(AppSettingsTest, StoredRulesMergeWithMissingBuiltInsAndSortStably) {
    auto settings =
        loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), ruleJson(1980, 1990, "80s")); });
    const auto rules = settings->decadeRules();
    ASSERT_EQ(rules.size(), 9);
    QList<int> froms;
    for (const auto& rule : rules) {
        froms.append(rule.from);
    }
    EXPECT_EQ(froms, (QList<int>{1950, 1960, 1970, 1980, 1980, 1990, 2000, 2010, 2020}));
    EXPECT_EQ(rules[3].label, QStringLiteral("80s")); // the stored rule comes first among equal starts
    EXPECT_EQ(rules[4].label, QStringLiteral("80er"));

    auto replaced =
        loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), ruleJson(1980, 1989, "Eighties")); });
    ASSERT_EQ(replaced->decadeRules().size(), 8);
    EXPECT_EQ(replaced->decadeRules()[3].label, QStringLiteral("Eighties"));

    auto empty = loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), "[]"); });
    EXPECT_EQ(empty->decadeRules(), defaultDecadeRules());

    auto broken = loadWith([](SettingsStore& s) { s.setData(key("decadeRules"), "[{\"from\":1}]"); });
    EXPECT_EQ(broken->decadeRules(), defaultDecadeRules());
}

TEST_F(AppSettingsTest, EffectiveModelAndEndpoint) {
    AppSettings settings(store());
    EXPECT_EQ(settings.effectiveModelName(), QStringLiteral("claude-haiku-4-5-20251001"));
    settings.setSelectedProvider(AIProviderType::custom);
    EXPECT_EQ(settings.effectiveModelName(), QString());
    EXPECT_EQ(settings.effectiveEndpoint(), QStringLiteral("http://localhost:8080"));
    settings.setSelectedProvider(AIProviderType::openai);
    EXPECT_EQ(settings.effectiveEndpoint(), QString());
    settings.setCustomEndpoint("myhost:9000");
    EXPECT_EQ(settings.effectiveEndpoint(), QStringLiteral("http://myhost:9000"));
    settings.setCustomEndpoint("https://x.example");
    EXPECT_EQ(settings.effectiveEndpoint(), QStringLiteral("https://x.example"));
}
