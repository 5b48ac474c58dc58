#include "model/AppSettings.h"

#include "TestFiles.h"
#include "model/SettingsStore.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using TestFiles::modeOf;

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
        return R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","from":)" + QByteArray::number(from) + R"(,"to":)" +
               QByteArray::number(to) + R"(,"label":")" + label + "\"}]";
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
        settings.setCustomEndpoint(" http://h:1/\n");
    }
    EXPECT_EQ(modeOf(path()), 0600u); // it holds secrets, before any reload
    SettingsStore reread(path());
    EXPECT_TRUE(reread.object(key("useSpotify"))->isBool());
    EXPECT_EQ(reread.integer(key("maxConcurrent")), 7);
    EXPECT_EQ(reread.string(key("endpoint")), "http://h:1/"); // a pasted address is saved trimmed
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
    TestFiles::writeFile(path(), R"({"Velmora.maxConcurrent": 1e300, "Velmora.x": {"data": "no base64!"}})");
    EXPECT_EQ(AppSettings(store()).maxConcurrentRequests(), 3);
    EXPECT_EQ(SettingsStore(path()).data(key("x")), std::nullopt);
}

QString ruleKeys(const QList<DecadeRule>& rules) {
    QStringList keys;
    for (const DecadeRule& rule : rules) {
        keys.append(QStringLiteral("%1-%2").arg(rule.from).arg(rule.to));
    }
    return keys.join(' ');
}

// A built-in is added at load only when the file has never been offered it:
// what the user deleted or edited stays so at every start.
TEST_F(AppSettingsTest, BuiltInsAreAddedOnlyWhenNeverOffered) {
    const QString all = ruleKeys(defaultDecadeRules());
    const auto drop = [](auto list, auto match) {
        list.removeIf(match);
        return list;
    };
    const QByteArray allBut80sAnd20s = R"(["1950-1959","1960-1969","1970-1979","1990-1999","2000-2009","2010-2019"])";
    const struct {
        const char* name;
        std::function<void(AppSettings&)> firstRun;
        std::function<void(SettingsStore&)> stored; // a file written by another version
        QString rules;
        qsizetype mappings;
    } cases[] = {
        {"rule deleted",
         [&](AppSettings& a) { a.setDecadeRules(drop(defaultDecadeRules(), [](auto& r) { return r.from == 1980; })); },
         {}, QString(all).remove("1980-1989 "), 199},
        {"rule edited to overlap",
         [&](AppSettings& a) {
             QList<DecadeRule> rules = defaultDecadeRules();
             rules[4].from = 1985;
             a.setDecadeRules(rules);
         },
         {}, QString(all).replace("1990-1999", "1985-1999"), 199},
        {"mapping deleted, then the rules restored",
         [&](AppSettings& a) {
             a.setGenreMappings(drop(defaultGenreMappings(), [](auto& m) { return m.source == "edm"; }));
             a.setDecadeRules({});
             a.setDecadeRules(defaultDecadeRules());
         },
         {}, all, 198},
        {"older file without the record: offered them all",
         {}, [](SettingsStore& s) { s.setData(key("decadeRules"), rule(1980, 1990, "80s")); }, "1980-1990", 199},
        {"built-ins this file was never offered, the stored rule first among equal starts",
         {},
         [&](SettingsStore& s) {
             s.setData(key("decadeRules"), rule(1980, 1990, "80s"));
             s.setData(key("offeredDecadeRules"), allBut80sAnd20s);
         },
         "1980-1990 1980-1989 2020-2029", 199},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        if (c.firstRun) {
            AppSettings first(store());
            c.firstRun(first);
        }
        const auto restarted = c.stored ? loadWith(c.stored) : std::make_unique<AppSettings>(store());
        EXPECT_EQ(ruleKeys(restarted->decadeRules()), c.rules);
        EXPECT_EQ(restarted->genreMappings().size(), c.mappings);
        restarted->setUseDiscogs(true); // a save records every built-in as offered
        EXPECT_EQ(ruleKeys(AppSettings(store()).decadeRules()), c.rules);
    }
}

// A key stays with the provider it was entered for. A single key stored before
// keys were kept per provider belongs to the cloud provider selected at load;
// with another provider it stays stored until a cloud one is selected at a start.
TEST_F(AppSettingsTest, KeysStayWithTheirProvider) {
    {
        AppSettings settings(store());
        settings.setApiKey("sk-ant");
        settings.setSelectedProvider(AIProviderType::openai);
        EXPECT_EQ(settings.apiKey(), QString());
        settings.setApiKey("sk-oa");
    }
    const auto keys = AppSettings(store()).currentSnapshot();
    EXPECT_EQ(keys->apiKey(AIProviderType::claude), "sk-ant");
    EXPECT_EQ(keys->apiKey(AIProviderType::openai), "sk-oa");
    EXPECT_EQ(keys->apiKey(AIProviderType::custom), QString());
    const struct {
        const char* provider;
        const char* ownKey; // stored for that provider by this version
        AIProviderType owner;
        const char* expected;
        bool singleKept;
    } cases[] = {
        {"claude", nullptr, AIProviderType::claude, "sk-old", false},
        {"custom", nullptr, AIProviderType::custom, "", true},
        {"openai", "sk-new", AIProviderType::openai, "sk-new", false},
        {"ollama", nullptr, AIProviderType::claude, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.provider);
        QFile::remove(path());
        const auto settings = loadWith([&](SettingsStore& s) {
            s.setString(key("provider"), c.provider);
            s.setString(key("apiKey"), "sk-old");
            if (c.ownKey != nullptr) {
                s.setString(key("apiKey.") + c.provider, c.ownKey);
            }
        });
        for (const AIProviderType provider : allAIProviderTypes()) {
            EXPECT_EQ(settings->currentSnapshot()->apiKey(provider), provider == c.owner ? c.expected : "");
        }
        settings->setUseDiscogs(true);
        EXPECT_EQ(SettingsStore(path()).contains(key("apiKey")), c.singleKept);
    }
}

// A table far beyond the old 1 MiB read limit comes back whole; a save that
// would be too large to read back, or cannot be written, leaves the file and says so.
TEST_F(AppSettingsTest, BigTablesRoundTripAndFailedSavesAreReported) {
    QList<GenreMapping> big = defaultGenreMappings();
    for (int i = 0; i < 20000; ++i) {
        big.append({QUuid::createUuid(), QStringLiteral("Génre %1 \u00e4\"\\").arg(i), QStringLiteral("Target %1").arg(i)});
    }
    {
        AppSettings settings(store());
        settings.setGenreMappings(big);
        EXPECT_EQ(settings.saveFailure(), std::nullopt);
    }
    EXPECT_GT(QFileInfo(path()).size(), 2 * 1024 * 1024);
    EXPECT_EQ(AppSettings(store()).genreMappings(), big);

    const QByteArray before = TestFiles::readFile(path());
    AppSettings near(std::make_unique<SettingsStore>(path(), before.size() + 1000));
    near.setGenreMappings(big + big.mid(0, 100));
    ASSERT_TRUE(near.saveFailure().has_value());
    EXPECT_TRUE(near.saveFailure()->tooLarge);
    EXPECT_EQ(TestFiles::readFile(path()), before);
    near.setGenreMappings({});
    EXPECT_EQ(near.saveFailure(), std::nullopt);

    TestFiles::writeFile(dir.filePath("file"), "x");
    AppSettings unwritable(std::make_unique<SettingsStore>(dir.filePath("file/settings.json")));
    unwritable.setUseSpotify(true);
    ASSERT_TRUE(unwritable.saveFailure().has_value());
    EXPECT_FALSE(unwritable.saveFailure()->tooLarge);
    EXPECT_FALSE(unwritable.saveFailure()->description.isEmpty());
}
