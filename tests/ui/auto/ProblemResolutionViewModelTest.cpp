#include "ui/auto/ProblemResolutionViewModel.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

MusicFile problem(const QString& title, std::optional<int> year, std::optional<int> discovered,
                  std::optional<int> manual, ProcessingStatus status) {
    MusicFile file;
    file.id = QUuid::createUuid();
    file.title = title;
    file.year = year;
    file.discoveredYear = discovered;
    file.manualYear = manual;
    file.status = status;
    return file;
}

QStringList titles(const QList<MusicFile>& files) {
    QStringList out;
    for (const MusicFile& file : files) {
        out << file.title;
    }
    return out;
}

// An Auto-style presenter: the binding reads and writes one list as it is.
struct Presenter {
    QList<MusicFile> list;
    QList<QList<MusicFile>> doneCalls;
    ProblemResolutionViewModel model{{[this] { return list; }, [this](const QList<MusicFile>& l) { list = l; }},
                                     [this](const QList<MusicFile>& result) { doneCalls.append(result); }};
};

const ProcessingStatus notFound = ProcessingStatus::yearNotFound();
const ProcessingStatus failed = ProcessingStatus::error(QStringLiteral("unreadable"));

} // namespace

TEST(ProblemResolutionViewModel, CountersAndFinishActions) {
    Presenter p;
    p.list = {problem("tag year, not found", 1987, {}, {}, notFound),  // both counters
              problem("nothing", {}, {}, {}, notFound),                 // pending only
              problem("discovered, error", {}, 1999, {}, failed),       // resolved only
              problem("error, no year", {}, {}, {}, failed),            // neither
              problem("manual", {}, {}, 2004, ProcessingStatus::yearFound(2004))};
    EXPECT_EQ(p.model.totalCount(), 5);
    EXPECT_EQ(p.model.resolvedCount(), 3);
    EXPECT_EQ(p.model.pendingCount(), 2);

    struct Case {
        void (ProblemResolutionViewModel::*action)();
        QStringList returned;
    };
    const Case cases[] = {
        {&ProblemResolutionViewModel::skipAll, {}},
        {&ProblemResolutionViewModel::finishAll, titles(p.list)},
        {&ProblemResolutionViewModel::finishWithYears, {"tag year, not found", "discovered, error", "manual"}},
    };
    for (const Case& c : cases) {
        Presenter q;
        q.list = p.list;
        (q.model.*c.action)();
        // A second finishing action (say Escape after a click) reaches nobody.
        q.model.skipAll();
        q.model.finishAll();
        ASSERT_EQ(q.doneCalls.size(), 1);
        EXPECT_EQ(titles(q.doneCalls.first()), c.returned);
        EXPECT_TRUE(q.model.isFinished());
    }
}

TEST(ProblemResolutionViewModel, EmptyListFinishesEmpty) {
    Presenter p;
    EXPECT_EQ(p.model.resolvedCount() + p.model.pendingCount() + p.model.totalCount(), 0);
    p.model.finishAll();
    ASSERT_EQ(p.doneCalls.size(), 1);
    EXPECT_TRUE(p.doneCalls.first().isEmpty());
}

TEST(ProblemResolutionViewModel, SaveManualYearSetsAndClears) {
    Presenter p;
    p.list = {problem("a", {}, {}, {}, notFound), problem("b", {}, {}, {}, notFound)};
    const MusicFile b = p.list[1];
    p.list[1].renderVersion = 7;

    p.model.saveManualYear(1983, b);
    EXPECT_EQ(p.list[1].manualYear, 1983);
    EXPECT_EQ(p.list[1].status, ProcessingStatus::yearFound(1983));
    EXPECT_EQ(p.list[1].renderVersion, 7);
    EXPECT_FALSE(p.list[0].manualYear);
    EXPECT_EQ(p.model.resolvedCount(), 1);
    EXPECT_EQ(p.model.pendingCount(), 1);

    // "Skip" in the editor clears the year and keeps the status: counted in neither.
    p.model.saveManualYear(std::nullopt, b);
    EXPECT_FALSE(p.list[1].manualYear);
    EXPECT_EQ(p.list[1].status, ProcessingStatus::yearFound(1983));
    EXPECT_EQ(p.model.resolvedCount(), 0);
    EXPECT_EQ(p.model.pendingCount(), 1);

    // A file no longer in the list changes nothing.
    const QList<MusicFile> before = p.list;
    p.model.saveManualYear(1990, problem("gone", {}, {}, {}, notFound));
    EXPECT_EQ(titles(p.list), titles(before));
    EXPECT_FALSE(p.list[0].manualYear);
}

TEST(ProblemResolutionViewModel, ManualStyleBindingLetsTheFileLeave) {
    // The table holds every file; the binding shows only the problems and
    // writes back by id.
    QList<MusicFile> table = {problem("ok", 1970, {}, {}, ProcessingStatus::updated()),
                              problem("x", {}, {}, {}, notFound), problem("y", {}, {}, {}, failed)};
    const auto isProblem = [](const MusicFile& f) {
        return f.status.kind() == ProcessingStatus::Kind::error ||
               f.status.kind() == ProcessingStatus::Kind::yearNotFound;
    };
    int doneCount = 0;
    ProblemResolutionViewModel model(
        {[&] {
             QList<MusicFile> out;
             for (const MusicFile& f : table) {
                 if (isProblem(f)) {
                     out << f;
                 }
             }
             return out;
         },
         [&](const QList<MusicFile>& written) {
             for (const MusicFile& f : written) {
                 for (MusicFile& row : table) {
                     if (row.id == f.id) {
                         row = f;
                     }
                 }
             }
         }},
        [&](const QList<MusicFile>&) { ++doneCount; });

    const MusicFile y = model.files()[1];
    model.saveManualYear(2011, y);
    EXPECT_EQ(table[2].manualYear, 2011);
    EXPECT_EQ(table[2].status, ProcessingStatus::yearFound(2011));
    EXPECT_EQ(titles(model.files()), QStringList{"x"});
    EXPECT_EQ(table[1].manualYear, std::nullopt);
    // Saving again for the file that left changes nothing.
    model.saveManualYear(1999, y);
    EXPECT_EQ(table[2].manualYear, 2011);
    model.finishWithYears();
    EXPECT_EQ(doneCount, 1);
}
