#include "model/SettingsStore.h"

#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppSettings.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using TestFiles::modeOf;

namespace {

QStringList setAside(const QTemporaryDir& dir) {
    return QDir(dir.path())
        .entryList({QStringLiteral("settings.json.unreadable-*")}, QDir::AllEntries | QDir::System);
}

const QByteArray kSecrets = R"({"velmora.apiKey": "sk-user-key", "velmora.spotifyClientSecret": "s3cret")";

struct Unreadable {
    const char* name;
    std::function<void(const QString& path)> make;
    bool keepsContent; // a regular file whose bytes must survive
    mode_t mode = 0644;
};
const Unreadable unreadables[] = {
    {"cut-off JSON with the user's keys", [](const QString& p) { TestFiles::writeFile(p, kSecrets); }, true},
    {"a JSON list", [](const QString& p) { TestFiles::writeFile(p, "[1, 2]"); }, true},
    {"larger than the limit",
     [](const QString& p) {
         TestFiles::writeFile(p, kSecrets + ", \"pad\": \"" +
                                     QByteArray(SettingsStore::maxFileBytes, 'x') + "\"}");
     },
     true},
    {"a FIFO (would block the start)",
     [](const QString& p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, false},
    {"a link to /dev/zero (endless)", [](const QString& p) { QFile::link(QStringLiteral("/dev/zero"), p); },
     false},
    {"a folder", [](const QString& p) { QDir().mkpath(p); }, false},
    {"no permission to read", [](const QString& p) { TestFiles::writeFile(p, kSecrets + "}"); }, true, 0},
    {"a link loop", [](const QString& p) { QFile::link(p, p); }, false},
};

} // namespace

using SettingsStoreUnreadableTest = ::testing::TestWithParam<Unreadable>;

// An unreadable settings file is moved aside (private) by the first save, never overwritten.
TEST_P(SettingsStoreUnreadableTest, IsMovedAsideBeforeTheFirstSave) {
    const Unreadable& c = GetParam();
    const TestFiles::PermissionBitsHold user; // also as root
    ASSERT_TRUE(user.holds());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    c.make(path);
    const QByteArray before = c.keepsContent ? TestFiles::readFile(path) : QByteArray();
    if (c.keepsContent) {
        ::chmod(QFile::encodeName(path).constData(), c.mode);
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
INSTANTIATE_TEST_SUITE_P(, SettingsStoreUnreadableTest, ::testing::ValuesIn(unreadables), RowName());

TEST(SettingsStoreTest, TwoFilesMovedAsideWithinOneSecondAreBothKept) {
    QTemporaryDir dir;
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

TEST(SettingsStoreTest, EmptyFilesStayAndFoldersArePrivate) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("config/Velmora/settings.json")));
    store.setString(QStringLiteral("velmora.apiKey"), QStringLiteral("k"));
    ASSERT_TRUE(store.commit());
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("config/Velmora"))), 0700u);
    TestFiles::writeFile(dir.filePath(QStringLiteral("settings.json")), " \n");
    ASSERT_TRUE(SettingsStore(dir.filePath(QStringLiteral("settings.json"))).commit());
    EXPECT_TRUE(setAside(dir).isEmpty()) << "an empty file holds nothing to keep";
}
