#include "ui/settings/SettingsViewModel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

struct SettingsFixture : ::testing::Test {
    QTemporaryDir dir;
    QString settingsPath = dir.filePath(QStringLiteral("settings.json"));
    AppSettings settings{std::make_unique<SettingsStore>(settingsPath)};
    SettingsViewModel vm{settings};

    void SetUp() override { settings.setAppLanguage(AppLanguage::english); }

    QList<DecadeRule> rules(std::initializer_list<std::tuple<int, int, const char*>> rows) {
        QList<DecadeRule> list;
        for (const auto& [from, to, label] : rows) {
            list.append({QUuid::createUuid(), from, to, QString::fromUtf8(label)});
        }
        return list;
    }
};

using SettingsViewModelTest = SettingsFixture;

TEST_F(SettingsViewModelTest, ValidationFindsInvalidOverlappingAndMissingRanges) {
    const struct {
        const char* name;
        std::vector<std::tuple<int, int, const char*>> rows;
        bool english;
        QStringList messages;
        std::vector<int> marked; // indexes into rows
    } cases[] = {
        {"empty", {}, true, {}, {}},
        {"single invalid",
         {{1990, 1980, "x"}},
         true,
         {"Invalid: \"x\" – From (1990) is greater than To (1980)"},
         {0}},
        {"from = to is valid", {{1990, 1990, "a"}}, true, {}, {}},
        {"adjacent", {{1980, 1989, "80er"}, {1990, 1999, "90er"}}, true, {}, {}},
        {"two-year gap",
         {{1980, 1989, "a"}, {1992, 1999, "b"}},
         true,
         {"Gap: years 1990 to 1991 are not covered by any rule"},
         {}},
        {"one-year gap",
         {{1980, 1989, "a"}, {1991, 1999, "b"}},
         true,
         {"Gap: years 1990 to 1990 are not covered by any rule"},
         {}},
        {"overlap names the earlier start first",
         {{1990, 1999, "90er"}, {1980, 1990, "80er"}},
         true,
         {"Overlap: \"80er\" (1980–1990) and \"90er\" (1990–1999)"},
         {0, 1}},
        {"equal from in list order",
         {{1980, 1985, "b"}, {1980, 1989, "a"}},
         true,
         {"Overlap: \"b\" (1980–1985) and \"a\" (1980–1989)"},
         {0, 1}},
        {"neighbours only",
         {{1950, 2000, "A"}, {1960, 1969, "B"}, {1970, 1979, "C"}},
         true,
         {"Overlap: \"A\" (1950–2000) and \"B\" (1960–1969)"},
         {0, 1}},
        {"invalid before its neighbour finding",
         {{1990, 1980, "x"}, {1995, 1999, "y"}},
         true,
         {"Invalid: \"x\" – From (1990) is greater than To (1980)",
          "Gap: years 1981 to 1994 are not covered by any rule"},
         {0}},
        {"empty label",
         {{2000, 1990, ""}},
         true,
         {"Invalid: \"\" – From (2000) is greater than To (1990)"},
         {0}},
        {"German",
         {{1980, 1990, "80er"}, {1990, 1999, "90er"}, {2001, 2005, "x"}, {2010, 2009, "z"}},
         false,
         {"Überschneidung: \"80er\" (1980–1990) und \"90er\" (1990–1999)",
          "Lücke: Jahre 2000 bis 2000 sind keiner Regel zugeordnet",
          "Lücke: Jahre 2006 bis 2009 sind keiner Regel zugeordnet",
          "Ungültig: \"z\" – Von (2010) ist größer als Bis (2009)"},
         {0, 1, 3}},
        {"gap across the whole int range",
         {{INT_MAX, INT_MAX, "hi"}, {INT_MIN, INT_MIN, "lo"}},
         true,
         {"Gap: years -2147483647 to 2147483646 are not covered by any rule"},
         {}},
        {"extremes overlap and invert",
         {{INT_MAX, INT_MIN, "inv"}, {INT_MIN, INT_MAX, "all"}},
         true,
         {"Overlap: \"all\" (-2147483648–2147483647) and \"inv\" (2147483647–-2147483648)",
          "Invalid: \"inv\" – From (2147483647) is greater than To (-2147483648)"},
         {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QList<DecadeRule> list;
        for (const auto& [from, to, label] : c.rows) {
            list.append({QUuid::createUuid(), from, to, QString::fromUtf8(label)});
        }
        QStringList messages;
        QSet<QUuid> marked;
        for (const auto& issue : SettingsViewModel::ruleIssues(list, c.english ? AppLanguage::english : AppLanguage::german)) {
            messages.append(issue.message);
            marked.unite(issue.affectedIDs);
        }
        QSet<QUuid> expectedMarked;
        for (int index : c.marked) {
            expectedMarked.insert(list.at(index).id);
        }
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(marked, expectedMarked);
    }
}

TEST_F(SettingsViewModelTest, AddRemoveRestoreAndTypedYears) {
    // Add continues after the greatest "from", not the greatest "to", and sorts.
    settings.setDecadeRules(rules({{1960, 1969, "b"}, {1950, 2029, "a"}}));
    ASSERT_TRUE(vm.addRule());
    QList<DecadeRule> now = settings.decadeRules();
    ASSERT_EQ(now.size(), 3);
    EXPECT_EQ(now.at(0).label, "a");
    EXPECT_EQ(std::tuple(now.at(2).from, now.at(2).to, now.at(2).label), std::tuple(1970, 1979, QString()));

    settings.setDecadeRules({});
    ASSERT_TRUE(vm.addRule());
    EXPECT_EQ(std::pair(settings.decadeRules().at(0).from, settings.decadeRules().at(0).to),
              std::pair(2030, 2039));

    const QList<DecadeRule> nearTop = rules({{0, INT_MAX - 5, "top"}});
    settings.setDecadeRules(nearTop);
    EXPECT_FALSE(vm.addRule());
    EXPECT_EQ(settings.decadeRules(), nearTop);

    const QList<DecadeRule> three = rules({{3, 3, "c"}, {1, 1, "a"}, {2, 2, "b"}});
    settings.setDecadeRules(three);
    vm.removeRule(three.at(1).id);
    EXPECT_EQ(settings.decadeRules(), (QList<DecadeRule>{three.at(0), three.at(2)}));

    // Typed years: only integers within int are stored.
    const QUuid id = three.at(0).id;
    for (const char* typed : {"19x8", "", "2147483648", "-2147483649", "1987.5", "1e3"}) {
        SCOPED_TRACE(typed);
        EXPECT_FALSE(vm.setRuleFrom(id, QString::fromUtf8(typed)));
        EXPECT_EQ(settings.decadeRules().at(0).from, 3);
    }
    EXPECT_TRUE(vm.setRuleTo(id, QStringLiteral(" -2147483648 ")));
    EXPECT_EQ(settings.decadeRules().at(0).to, INT_MIN);

    vm.restoreDefaultRules();
    EXPECT_EQ(settings.decadeRules(), defaultDecadeRules());
}

TEST_F(SettingsViewModelTest, MappingSortIsStableAndIgnoresCase) {
    const QList<GenreMapping> list{{QUuid::createUuid(), "beat", "2"},
                                   {QUuid::createUuid(), "Acid", "1"},
                                   {QUuid::createUuid(), "acid", "4"},
                                   {QUuid::createUuid(), "Chill", "3"}};
    settings.setGenreMappings(list);
    const auto sources = [this] {
        QStringList out;
        for (const GenreMapping& m : settings.genreMappings()) {
            out.append(m.source);
        }
        return out;
    };
    vm.sortMappings(SettingsViewModel::GenreSortField::source);
    EXPECT_EQ(sources(), QStringList({"Acid", "acid", "beat", "Chill"}));
    vm.sortMappings(SettingsViewModel::GenreSortField::source);
    EXPECT_FALSE(vm.genreSortAscending());
    EXPECT_EQ(sources(), QStringList({"Chill", "beat", "Acid", "acid"}));
    vm.sortMappings(SettingsViewModel::GenreSortField::target);
    EXPECT_TRUE(vm.genreSortAscending());
    EXPECT_EQ(sources(), QStringList({"Acid", "beat", "Chill", "acid"}));
}

TEST_F(SettingsViewModelTest, RememberedTabFallsBackToDecadesAndIsShared) {
    EXPECT_EQ(vm.selectedTab(), SettingsViewModel::SettingsTab::decades);
    settings.store().setString(SettingsViewModel::selectedTabKey, QStringLiteral("nonsense"));
    EXPECT_EQ(vm.selectedTab(), SettingsViewModel::SettingsTab::decades);
    vm.setSelectedTab(SettingsViewModel::SettingsTab::info);
    EXPECT_EQ(SettingsStore(settingsPath).string(SettingsViewModel::selectedTabKey), QStringLiteral("info"));
    EXPECT_EQ(SettingsViewModel(settings).selectedTab(), SettingsViewModel::SettingsTab::info);
}

TEST_F(SettingsViewModelTest, StepsStayInRangeAndWriteOnlyOnAMove) {
    settings.setMaxConcurrentRequests(50);
    vm.stepConcurrency(+1); // shows 10 already: nothing moves, the stored 50 stays
    EXPECT_EQ(settings.maxConcurrentRequests(), 50);
    vm.stepConcurrency(-1);
    EXPECT_EQ(settings.maxConcurrentRequests(), 9);
    settings.setMaxConcurrentRequests(1);
    vm.stepConcurrency(-1);
    EXPECT_EQ(settings.maxConcurrentRequests(), 1);
    vm.stepTimeout(+1);
    EXPECT_EQ(settings.requestTimeoutSeconds(), 35);
    settings.setRequestTimeoutSeconds(200);
    vm.stepTimeout(-1);
    EXPECT_EQ(settings.requestTimeoutSeconds(), 120);
}

TEST_F(SettingsViewModelTest, ImportRejectsBadFilesAndChangesNothing) {
    const struct {
        const char* name;
        bool mappings;
        QByteArray content; // empty: no file at all
        const char* names;  // what the failure text must name
    } cases[] = {
        {"no file", false, {}, ""},
        {"not JSON", false, "{", ""},
        {"trailing garbage", false, R"({"version":1,"rules":[]} x)", ""},
        {"top-level array", false, "[]", "object"},
        {"version missing", false, R"({"rules":[]})", "version"},
        {"version text", false, R"({"version":"1","rules":[]})", "version"},
        {"version Bool", false, R"({"version":true,"rules":[]})", "version"},
        {"version fraction", false, R"({"version":1.5,"rules":[]})", "version"},
        {"rules an object", false, R"({"version":1,"rules":{}})", "rules"},
        {"element no object", false, R"({"version":1,"rules":[1]})", "rules[0]"},
        {"from as text", false,
         R"({"version":1,"rules":[{"from":2030,"to":2039,"label":"a"},{"from":"1987","to":1,"label":"b"}]})",
         "rules[1].from"},
        {"from fraction", false, R"({"version":1,"rules":[{"from":1987.5,"to":1990,"label":"a"}]})",
         "rules[0].from"},
        {"from huge", false, R"({"version":1,"rules":[{"from":1e20,"to":1990,"label":"a"}]})",
         "rules[0].from"},
        {"to beyond int", false, R"({"version":1,"rules":[{"from":1,"to":2147483648,"label":"a"}]})",
         "rules[0].to"},
        {"label null", false, R"({"version":1,"rules":[{"from":1,"to":2,"label":null}]})", "rules[0].label"},
        {"label missing", false, R"({"version":1,"rules":[{"from":1,"to":2}]})", "rules[0].label"},
        {"source a number", true, R"({"version":1,"mappings":[{"source":1,"target":"x"}]})",
         "mappings[0].source"},
        {"target missing", true, R"({"version":1,"mappings":[{"source":"x"}]})", "mappings[0].target"},
        {"mappings missing", true, R"({"version":1})", "mappings"},
        {"over 10 MiB", true, R"({"version":1,"mappings":[]})" + QByteArray(10 * 1024 * 1024, ' '), "10 MiB"},
    };
    const QList<DecadeRule> rulesBefore = settings.decadeRules();
    const QList<GenreMapping> mappingsBefore = settings.genreMappings();
    const QByteArray fileBefore = readAll(settingsPath);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("import.json"));
        QFile::remove(path);
        if (!c.content.isEmpty()) {
            writeFile(path, c.content);
        }
        c.mappings ? vm.importGenreMappings(path) : vm.importDecadeRules(path);
        const QString result = (c.mappings ? vm.importResult() : vm.decadeImportResult()).value_or(QString());
        EXPECT_TRUE(result.startsWith(QStringLiteral("✗ Import failed: "))) << result.toStdString();
        EXPECT_TRUE(result.contains(QLatin1String(c.names))) << result.toStdString();
        EXPECT_EQ(settings.decadeRules(), rulesBefore);
        EXPECT_EQ(settings.genreMappings(), mappingsBefore);
        EXPECT_EQ(readAll(settingsPath), fileBefore);
    }
}

TEST_F(SettingsViewModelTest, ImportMergesOnlyNewEntries) {
    // Rules: an existing "from" is skipped, repeats within the file are kept,
    // any integral version and unknown keys are accepted, and all rules sort.
    settings.setDecadeRules(rules({{1990, 1999, "90er"}, {1950, 1959, "50er"}}));
    const QString path = dir.filePath(QStringLiteral("rules.json"));
    writeFile(path, R"({"version":7,"rules":[{"from":1950,"to":1951,"label":"x"},
        {"from":2030.0,"to":2039,"label":"a","id":"nope"},{"from":2030,"to":2031,"label":"b"}]})");
    vm.importDecadeRules(path);
    EXPECT_EQ(vm.decadeImportResult(), QStringLiteral("✓ 2 new rule(s) imported"));
    QStringList labels;
    for (const DecadeRule& rule : settings.decadeRules()) {
        labels.append(rule.label);
    }
    EXPECT_EQ(labels, QStringList({"50er", "90er", "a", "b"}));

    // Mappings: the source is compared lower-cased against the table before the import.
    settings.setGenreMappings({{QUuid::createUuid(), "House", "House"}});
    writeFile(path, R"({"version":1,"mappings":[{"source":"house","target":"X"},
        {"source":"Disco","target":"D1"},{"source":"Disco","target":"D2"}]})");
    settings.setAppLanguage(AppLanguage::german);
    vm.importGenreMappings(path);
    EXPECT_EQ(vm.importResult(), QStringLiteral("✓ 2 neue Zuordnung(en) importiert"));
    ASSERT_EQ(settings.genreMappings().size(), 3);
    EXPECT_EQ(settings.genreMappings().at(0).target, "House");
    EXPECT_EQ(settings.genreMappings().at(2).target, "D2");
}

TEST_F(SettingsViewModelTest, ExportWritesSortedKeysWithoutIdsOrSecrets) {
    settings.setApiKey(QStringLiteral("sk-SECRET-1"));
    settings.setLastFMApiKey(QStringLiteral("lfm-SECRET-2"));
    settings.setSpotifyClientSecret(QStringLiteral("sp-SECRET-3"));
    settings.setDecadeRules(rules({{1950, 1959, "50er"}}));
    settings.setGenreMappings({{QUuid::createUuid(), "Hip-Hop", "Hip Hop"}});
    const QString rulesPath = dir.filePath(QStringLiteral("r.json"));
    const QString mappingsPath = dir.filePath(QStringLiteral("m.json"));
    vm.exportDecadeRules(rulesPath);
    vm.exportGenreMappings(mappingsPath);
    EXPECT_EQ(readAll(rulesPath), QByteArray("{\n    \"rules\": [\n        {\n            \"from\": 1950,\n"
                                             "            \"label\": \"50er\",\n            \"to\": 1959\n"
                                             "        }\n    ],\n    \"version\": 1\n}\n"));
    EXPECT_EQ(readAll(mappingsPath),
              QByteArray("{\n    \"mappings\": [\n        {\n            \"source\": "
                         "\"Hip-Hop\",\n            \"target\": \"Hip Hop\"\n        }\n"
                         "    ],\n    \"version\": 1\n}\n"));
    EXPECT_FALSE(vm.decadeImportResult().has_value());

    // Our own export of the built-in rules reads back as nothing new.
    settings.setDecadeRules(defaultDecadeRules());
    vm.exportDecadeRules(rulesPath);
    vm.importDecadeRules(rulesPath);
    EXPECT_EQ(vm.decadeImportResult(), QStringLiteral("✓ 0 new rule(s) imported"));
    EXPECT_EQ(settings.decadeRules(), defaultDecadeRules());
}

TEST_F(SettingsViewModelTest, FailedExportLeavesTheOldFileIntact) {
    // A name so long that no temporary file can be made beside it.
    const QString path = dir.filePath(QString(250, QLatin1Char('r')));
    writeFile(path, "OLD");
    vm.exportDecadeRules(path);
    EXPECT_TRUE(vm.decadeImportResult().value_or(QString()).startsWith(QStringLiteral("✗ Export failed: ")));
    EXPECT_EQ(readAll(path), QByteArray("OLD"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2); // settings.json and the old file
    vm.exportDecadeRules(dir.filePath(QStringLiteral("r.json"))); // a later success clears the failure
    EXPECT_EQ(vm.decadeImportResult(), std::nullopt);
}

} // namespace
