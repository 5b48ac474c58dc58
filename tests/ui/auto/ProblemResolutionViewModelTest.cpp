#include "ui/auto/ProblemResolutionViewModel.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

MusicFile problem(const QString& title, std::optional<int> year, std::optional<int> discovered,
                  std::optional<int> manual, ProcessingStatus status) {
    MusicFile f;
    std::tie(f.id, f.title, f.year, f.discoveredYear, f.manualYear, f.status) =
        std::tuple(QUuid::createUuid(), title, year, discovered, manual, status);
    return f;
}

QStringList titles(const QList<MusicFile>& files) {
    QStringList out;
    std::transform(files.begin(), files.end(), std::back_inserter(out),
                   [](const MusicFile& f) { return f.title; });
    return out;
}

// An Auto-style presenter: the binding reads and writes one list as it is.
struct Presenter {
    QList<MusicFile> list;
    QList<QList<MusicFile>> doneCalls;
    ProblemResolutionViewModel model{{[this] { return list; },
                                      [this](const QList<MusicFile>& l) {
                                          list = l;
                                      }},
                                     [this](const QList<MusicFile>& result) {
                                         doneCalls.append(result);
                                     }};
};

const ProcessingStatus notFound = ProcessingStatus::yearNotFound();
const ProcessingStatus failed = ProcessingStatus::error(QStringLiteral("unreadable"));

} // namespace

TEST(ProblemResolutionViewModelTest, CountersAndFinishActions) {
    Presenter p;
    p.list = {problem("tag year, not found", 1987, {}, {}, notFound), // both counters
              problem("nothing", {}, {}, {}, notFound),               // pending only
              problem("discovered, error", {}, 1999, {}, failed),     // resolved only
              problem("error, no year", {}, {}, {}, failed),          // neither
              problem("manual", {}, {}, 2004, ProcessingStatus::yearFound(2004))};
    EXPECT_EQ(QList<int>({p.model.totalCount(), p.model.resolvedCount(), p.model.pendingCount()}),
              QList<int>({5, 3, 2}));

    struct Case {
        void (ProblemResolutionViewModel::*action)();
        QStringList returned;
        ProblemResolutionViewModel::Ending ending; // only withYears makes Auto mode write
    };
    using Ending = ProblemResolutionViewModel::Ending;
    const Case cases[] = {
        {&ProblemResolutionViewModel::skipAll, {}, Ending::skipAll},
        {&ProblemResolutionViewModel::finishAll, titles(p.list), Ending::all},
        {&ProblemResolutionViewModel::finishWithYears,
         {"tag year, not found", "discovered, error", "manual"},
         Ending::withYears},
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
        EXPECT_EQ(q.model.ending(), c.ending);
    }
    Presenter empty;
    empty.model.finishAll();
    EXPECT_EQ(empty.doneCalls, QList<QList<MusicFile>>{{}});
}

TEST(ProblemResolutionViewModelTest, SaveManualYearSetsAndClears) {
    Presenter p;
    p.list = {problem("a", {}, {}, {}, notFound), problem("b", {}, {}, {}, notFound)};
    const MusicFile b = p.list[1];
    p.list[1].renderVersion = 7;

    p.model.saveManualYear(1983, b);
    EXPECT_EQ(std::tuple(p.list[1].manualYear, p.list[1].status, p.list[1].renderVersion),
              std::tuple(std::optional(1983), ProcessingStatus::yearFound(1983), 7));
    EXPECT_EQ(p.model.resolvedCount(), 1);

    // "Skip" in the editor clears the year and keeps the status: counted in neither.
    p.model.saveManualYear(std::nullopt, b);
    EXPECT_EQ(std::tuple(p.list[1].manualYear, p.list[1].status),
              std::tuple(std::nullopt, ProcessingStatus::yearFound(1983)));
    EXPECT_EQ(p.model.resolvedCount() + p.model.pendingCount(), 1);

    // A file no longer in the list changes nothing.
    p.model.saveManualYear(1990, problem("gone", {}, {}, {}, notFound));
    EXPECT_EQ(titles(p.list), QStringList({"a", "b"}));
    EXPECT_FALSE(p.list[0].manualYear);
}

TEST(ProblemResolutionViewModelTest, ManualStyleBindingLetsTheFileLeave) {
    // The table holds every file; the binding shows only the problems and writes back by id.
    QList<MusicFile> table = {problem("ok", 1970, {}, {}, ProcessingStatus::updated()),
                              problem("x", {}, {}, {}, notFound), problem("y", {}, {}, {}, failed)};
    ProblemResolutionViewModel model(
        {[&] {
             QList<MusicFile> out;
             std::copy_if(table.begin(), table.end(), std::back_inserter(out), [](const MusicFile& f) {
                 return f.status == notFound || f.status.kind() == ProcessingStatus::Kind::error;
             });
             return out;
         },
         [&](const QList<MusicFile>& written) {
             for (const MusicFile& f : written) {
                 std::replace_if(
                     table.begin(), table.end(), [&](const MusicFile& row) { return row.id == f.id; }, f);
             }
         }},
        {});
    const MusicFile y = model.files()[1];
    model.saveManualYear(2011, y);
    EXPECT_EQ(table[2].status, ProcessingStatus::yearFound(2011));
    EXPECT_EQ(titles(model.files()), QStringList{"x"});
    EXPECT_EQ(table[1].manualYear, std::nullopt);
    model.saveManualYear(1999, y); // the file has left: nothing changes
    EXPECT_EQ(table[2].manualYear, 2011);
}
