#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/SettingsSnapshot.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* fixture;
    AudioFormat format;
    std::optional<int> lookedUpYear; // written as the new year (TagLib's DATE after the write)
    const char* refusal;             // part of the error when the write must leave the file alone
    QString genreAfter;              // TagLib's GENRE values after the write
    QByteArray goneAfter;            // bytes the written file no longer holds
    QByteArray goneAfterUndo = {};   // bytes the file no longer holds after the undo
    QStringList repaired = {};       // title and artist a repaired read writes back
};

const Row rows[] = {
    // Two GENRE comments: the one the readers report (the last) gets the label.
    {"flac/tagged.flac", AudioFormat::flac, std::nullopt, nullptr, "House | Pop 80er", {}},
    // The second comment block's tags would be lost by a rewrite.
    {"flac/twocomments.flac", AudioFormat::flac, std::nullopt, "more than one Vorbis comment", {}, {}},
    // A BOM per UTF-16 value; TDRC's day and time kept for v2.3 readers as TYER/TDAT/TIME.
    {"id3/mutagen_v24.mp3", AudioFormat::mp3, std::nullopt, nullptr, "House / Techno 80er", "TDRC"},
    // Keyed QuickTime metadata would be hidden behind a new item list.
    {"mp4/mdta.m4a", AudioFormat::m4a, 1975, "keyed QuickTime metadata", {}, {}},
    // A new year replaces the whole date; the undo puts the full date back, not just its year.
    {"id3/v24_ffmpeg.mp3", AudioFormat::mp3, 1985, nullptr, "Funk 80er", "TDRC"},
    {"id3/dated.aiff", AudioFormat::aiff, 1985, nullptr, "Soul 80er", "TDAT"},
    {"flac/picture.flac", AudioFormat::flac, 1985, nullptr, "Techno 80er", "1994-05-01"},
    {"mp4/faststart.m4a", AudioFormat::m4a, 1990, nullptr, "Deep House 90er", "1987-06-01"},
    // A date the reader refuses and no genre: the undo brings back "2099" and no genre item.
    {"id3/implausible.mp3", AudioFormat::mp3, 1985, nullptr, "80er", {}, "TCON"},
    {"flac/implausible.flac", AudioFormat::flac, 1985, nullptr, "80er", {}, "GENRE"},
    {"mp4/implausible.m4a", AudioFormat::m4a, 1985, nullptr, "80er", {}, "\xA9gen"},
    // No date and no genre: the undo takes both away again.
    {"id3/notag.mp3", AudioFormat::mp3, 1985, nullptr, "80er", {}, "TYER"},
    {"flac/nocomment.flac", AudioFormat::flac, 1985, nullptr, "80er", {}, "DATE"},
    {"mp4/plain.m4a", AudioFormat::m4a, 1985, nullptr, "80er", {}, "\xA9" "day"},
    // "Some Artist - Some Title" by "01", repaired; the undo puts both back into TIT2 and TPE1.
    {"scan/numeric_artist.mp3", AudioFormat::mp3, 1985, nullptr, "80er", {}, {},
     {"Some Title", "Some Artist"}},
};

} // namespace

using TagDataMendsTest = ::testing::TestWithParam<Row>;

// Through the whole update and its undo: mended fields right, everything else as it was.
TEST_P(TagDataMendsTest, RealFilesAfterWriteAndAfterUndo) {
    const auto writer = std::make_shared<UniversalTagWriter>();
    const UniversalTagReader reader;
    const Row& row = GetParam();
    auto settings = std::make_shared<SettingsSnapshot>(SettingsSnapshot::defaults());
    settings->repairBrokenTagStructure = !row.repaired.isEmpty();
    QTemporaryDir dir;
    const QString path = TestFiles::copyFixture(row.fixture, dir);
    const QByteArray original = TestFiles::readFile(path);
    const QMap<QString, QStringList> before = TagProbe::properties(path, row.format);
    const auto nameFrames = [&path] {
        QList<QPair<QByteArray, QByteArray>> frames = TagProbe::id3Frames(path);
        frames.removeIf([](const auto& frame) { return frame.first != "TIT2" && frame.first != "TPE1"; });
        std::sort(frames.begin(), frames.end()); // a write may put them in another order
        return frames;
    };
    const auto namesBefore = nameFrames();
    const QByteArray audio = TagProbe::audioPayload(path, row.format);
    std::optional<MusicFile> file = FileScannerService().readFile(path, reader);
    ASSERT_TRUE(file.has_value());
    file->discoveredYear = row.lookedUpYear;

    WriteUndoManager undo;
    const TagUpdateService service(writer, &undo);
    const auto result = service.updateFile(*file, [settings] { return settings; });
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(path).fileName()});
    if (row.refusal != nullptr) {
        EXPECT_FALSE(result.success);
        EXPECT_TRUE(result.errorMessage.value_or(QString()).contains(QLatin1String(row.refusal)));
        EXPECT_EQ(TestFiles::readFile(path), original);
        return;
    }
    ASSERT_TRUE(result.success) << result.errorMessage.value_or(QString()).toStdString();
    QMap<QString, QStringList> written = TagProbe::properties(path, row.format);
    EXPECT_EQ(written.take("GENRE").join(" | "), row.genreAfter);
    const QStringList date =
        row.lookedUpYear ? QStringList{QString::number(*row.lookedUpYear)} : before.value("DATE");
    EXPECT_EQ(written.take("DATE"), date);
    EXPECT_TRUE(row.goneAfter.isEmpty() || !TestFiles::readFile(path).contains(row.goneAfter));
    QMap<QString, QStringList> rest = before;
    rest.removeIf([](auto it) { return it.key() == "GENRE" || it.key() == "DATE"; });
    if (!row.repaired.isEmpty()) {
        EXPECT_EQ(written.take("TITLE") + written.take("ARTIST"), row.repaired);
        rest.remove("TITLE");
        rest.remove("ARTIST");
    }
    EXPECT_EQ(written, rest);
    EXPECT_EQ(TagProbe::audioPayload(path, row.format), audio);
    EXPECT_EQ(undo.undoLastSession(*writer).restored, 1);
    EXPECT_EQ(TagProbe::properties(path, row.format), before);
    EXPECT_EQ(nameFrames(), namesBefore);
    EXPECT_TRUE(row.goneAfterUndo.isEmpty() || !TestFiles::readFile(path).contains(row.goneAfterUndo));
    EXPECT_EQ(TagProbe::audioPayload(path, row.format), audio);
    EXPECT_TRUE(TagProbe::temporaryFiles(dir.path()).isEmpty());
}
INSTANTIATE_TEST_SUITE_P(, TagDataMendsTest, ::testing::ValuesIn(rows), RowName());
