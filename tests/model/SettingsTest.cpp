#include "model/AppSettings.h"
#include "model/Console.h"
#include "model/DebugLogger.h"
#include "model/SettingsStore.h"
#include "model/TextUtil.h"

#include "ConsoleCapture.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList setAside(const QTemporaryDir& dir) {
    return QDir(dir.path())
        .entryList({QStringLiteral("settings.json.unreadable-*")}, QDir::AllEntries | QDir::System);
}

const QByteArray kSecrets = R"({"velmora.apiKey": "sk-user-key", "velmora.spotifyClientSecret": "s3cret")";

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

// An unreadable settings file is moved aside (private) by the first save, never overwritten.
TEST(SettingsFileSafety, UnreadableFilesAreMovedAsideBeforeTheFirstSave) {
    const struct {
        const char* name;
        std::function<void(const QString& path)> make;
        bool keepsContent; // a regular file whose bytes must survive
    } cases[] = {
        {"cut-off JSON with the user's keys", [](const QString& p) { TestFiles::writeFile(p, kSecrets); },
         true},
        {"a JSON list", [](const QString& p) { TestFiles::writeFile(p, "[1, 2]"); }, true},
        {"larger than the limit",
         [](const QString& p) {
             TestFiles::writeFile(p, kSecrets + ", \"pad\": \"" +
                                         QByteArray(SettingsStore::maxFileBytes, 'x') + "\"}");
         },
         true},
        {"a FIFO (would block the start)",
         [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, false},
        {"a link to /dev/zero (endless)",
         [](const QString& p) { QFile::link(QStringLiteral("/dev/zero"), p); }, false},
        {"a folder", [](const QString& p) { QDir().mkpath(p); }, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        c.make(path);
        const QByteArray before = c.keepsContent ? TestFiles::readFile(path) : QByteArray();
        if (c.keepsContent) {
            ::chmod(QFile::encodeName(path).constData(), 0644);
        }

        SettingsStore store(path);
        EXPECT_FALSE(store.contains(QStringLiteral("velmora.apiKey"))) << c.name;
        EXPECT_TRUE(setAside(dir).isEmpty()) << c.name << ": nothing moves before a save";
        store.setString(QStringLiteral("velmora.modelName"), QStringLiteral("m"));
        ASSERT_TRUE(store.commit()) << c.name;

        const QStringList aside = setAside(dir);
        ASSERT_EQ(aside.size(), 1) << c.name;
        const QString kept = dir.filePath(aside.front());
        if (c.keepsContent) {
            EXPECT_EQ(TestFiles::readFile(kept), before) << c.name;
            EXPECT_EQ(modeOf(kept), 0600u) << c.name;
        }
        EXPECT_EQ(SettingsStore(path).string(QStringLiteral("velmora.modelName")), QStringLiteral("m"))
            << c.name;
        EXPECT_EQ(modeOf(path), 0600u) << c.name;
    }
    QTemporaryDir dir; // two moved aside within one second are both kept
    for (const QByteArray& content : {QByteArray("[1]"), QByteArray("[2]")}) {
        TestFiles::writeFile(dir.filePath(QStringLiteral("settings.json")), content);
        ASSERT_TRUE(SettingsStore(dir.filePath(QStringLiteral("settings.json"))).commit());
    }
    QByteArrayList kept;
    for (const QString& name : setAside(dir)) {
        kept.append(TestFiles::readFile(dir.filePath(name)));
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, QByteArrayList({"[1]", "[2]"}));
}

TEST(SettingsFileSafety, EmptyFilesStayAndFoldersArePrivate) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("config/Velmora/settings.json")));
    store.setString(QStringLiteral("velmora.apiKey"), QStringLiteral("k"));
    ASSERT_TRUE(store.commit());
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("config/Velmora"))), 0700u);
    TestFiles::writeFile(dir.filePath(QStringLiteral("settings.json")), " \n");
    ASSERT_TRUE(SettingsStore(dir.filePath(QStringLiteral("settings.json"))).commit());
    EXPECT_TRUE(setAside(dir).isEmpty()) << "an empty file holds nothing to keep";
}

TEST(SettingsFileSafety, DebugLogOpensOnlyItsOwnPrivateFile) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data/Velmora"));
    const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
    TestFiles::writeFile(target, "kept\n");
    const QString log = QDir(folder).filePath(QStringLiteral("Velmora_debug.log"));
    // A new file, then one loosened to 0644: both are kept private.
    for (int round = 0; round < 2; ++round) {
        DebugLogger logger(folder);
        logger.setEnabled(true);
        logger.flush();
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(modeOf(log), 0600u) << round;
        ::chmod(QFile::encodeName(log).constData(), 0644);
    }
    // A link at the log's name is never followed.
    QFile::remove(log);
    QFile::link(target, log);
    {
        DebugLogger logger(folder);
        logger.setEnabled(true);
        logger.log(QStringLiteral("x"), LogCategory::api);
        logger.flush();
    }
    EXPECT_EQ(TestFiles::readFile(target), QByteArray("kept\n"));
}

// A value with a line break cannot forge a line of its own, nor one with a
// bidi override or a zero-width character disguise what the line says.
TEST(SettingsFileSafety, LogAndConsoleLinesEscapeControlCharacters) {
    const QString forged =
        QStringLiteral("Title\n[2026-01-01 00:00:00.000] [WRITE] forged\r\x1b[2J\u2028\u202Egpj.\u200B\u2066\uFEFF");
    const QString escaped = QStringLiteral(
        "Title\\n[2026-01-01 00:00:00.000] [WRITE] forged\\r\\x1B[2J\\u2028\\u202Egpj.\\u200B\\u2066\\uFEFF");
    const QString line = DebugLogger::formatLine(QDateTime::currentDateTime(), LogCategory::api, forged);
    EXPECT_TRUE(line.endsWith(escaped + QLatin1Char('\n')));
    EXPECT_EQ(line.count(QLatin1Char('\n')), 1);
    // A 100,000-character title makes one short line, its start kept.
    const QString title = QString(TextUtil::maxLogLineChars, QLatin1Char('x')) + QString(98000, QChar(0x202E));
    ConsoleCapture console;
    Console::line(forged);
    Console::line(title);
    const QStringList lines = console.lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], escaped);
    for (const QString& cutLine :
         {lines[1], DebugLogger::formatLine(QDateTime::currentDateTime(), LogCategory::api, title)}) {
        EXPECT_TRUE(cutLine.contains(QString(TextUtil::maxLogLineChars, QLatin1Char('x')) + "… (cut, 100000"));
        EXPECT_LT(cutLine.size(), TextUtil::maxLogLineChars + 100);
    }
}

TEST(DebugLogger, WritesCategoriesAndNamesOnlyWhileOn) {
    QTemporaryDir dir;
    DebugLogger logger(dir.filePath("a/Velmora"));
    const auto text = [&] {
        logger.flush();
        return QString::fromUtf8(TestFiles::readFile(logger.logFileURL()));
    };
    logger.log("lost", LogCategory::info);
    logger.flush();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a")));
    logger.setEnabled(true);
    logger.logSessionStart("/home/dj/Sets 1987", 12);
    logger.log("READ: track.mp3", LogCategory::file);
    logger.log("kaputt", LogCategory::error);
    logger.setEnabled(false);
    logger.log("ignored", LogCategory::info);
    for (const char* part : {"[FILE ] READ: track.mp3", "[ERROR] kaputt", "[SYS  ]", "/home/dj/Sets 1987"}) {
        EXPECT_TRUE(text().contains(QString::fromUtf8(part))) << part;
    }
    EXPECT_FALSE(text().contains("lost") || text().contains("ignored"));
    logger.setEnabled(true);
    logger.clearLog();
    logger.log("new line", LogCategory::info);
    EXPECT_FALSE(text().contains("track.mp3"));
    EXPECT_TRUE(text().contains("new line"));
    {
        DebugLogger ending(dir.filePath("b"));
        ending.setEnabled(true);
        ending.log("last words", LogCategory::info); // its end writes what is queued
    }
    EXPECT_TRUE(TestFiles::readFile(dir.filePath("b/Velmora_debug.log")).contains("last words"));
}
