#include "TagProbe.h"
#include "TestFiles.h"
#include "model/SettingsSnapshot.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteUndoManager.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <attachedpictureframe.h>
#include <fileref.h>
#include <flacfile.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tpropertymap.h>

#include <gtest/gtest.h>

namespace {

// What a check compares, read by TagLib except for the audio: the genre, and
// every other tag field together with the data of every picture.
struct Snapshot {
    QString genre;
    QString otherTags;
    QByteArray audio;
    bool operator==(const Snapshot&) const = default;
};

QString text(const TagLib::String& s) {
    return QString::fromStdString(s.to8Bit(true));
}

QString hex(const TagLib::ByteVector& v) {
    return QString::fromLatin1(QByteArray(v.data(), qsizetype(v.size())).toHex());
}

Snapshot snapshot(const QString& path, AudioFormat format) {
    const QByteArray name = QFile::encodeName(path);
    TagLib::PropertyMap tags = TagLib::FileRef(name.constData()).file()->properties();
    Snapshot out{text(tags["GENRE"].toString(" | ")), {}, TagProbe::audioPayload(path, format)};
    tags.erase("GENRE");
    for (const auto& [key, values] : tags) {
        out.otherTags += text(key) + '=' + text(values.toString(" | ")) + '\n';
    }
    if (format == AudioFormat::flac) {
        TagLib::FLAC::File file(name.constData());
        for (const auto* picture : file.pictureList()) {
            out.otherTags += hex(picture->data());
        }
    } else if (TagLib::MPEG::File file(name.constData()); file.hasID3v2Tag()) {
        for (const auto* frame : file.ID3v2Tag()->frameListMap()["APIC"]) {
            const auto* picture = static_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
            out.otherTags += hex(picture->picture());
        }
    }
    return out;
}

struct Row {
    const char* fixture;
    AudioFormat format;
    std::optional<int> lookedUpYear;
    const char* refusal;  // part of the error when the write must leave the file alone
    QString genreAfter;   // TagLib's GENRE values after the write
    QByteArray goneAfter; // bytes the written file no longer holds
};

} // namespace

// Real files written through the whole update and undone again: the fields
// of our mends come out right, and audio, pictures and every other tag field
// (TagLib's reading) stay as they were; nothing but the file is left behind.
TEST(TagDataMends, RealFilesAfterWriteAndAfterUndo) {
    const Row rows[] = {
        // Two GENRE comments: the one the readers report (the last) gets the label.
        {"flac/tagged.flac", AudioFormat::flac, std::nullopt, nullptr, "House | Pop 80er", {}},
        // The second comment block's tags would be lost by a rewrite.
        {"flac/twocomments.flac", AudioFormat::flac, std::nullopt, "more than one Vorbis comment", {}, {}},
        // A byte-order mark on each UTF-16 value; TDRC with day and time
        // kept for v2.3 readers (TagLib reads TYER/TDAT/TIME back as DATE).
        {"id3/mutagen_v24.mp3", AudioFormat::mp3, std::nullopt, nullptr, "House / Techno 80er", "TDRC"},
        // Keyed QuickTime metadata would be hidden behind a new item list.
        {"mp4/mdta.m4a", AudioFormat::m4a, 1975, "keyed QuickTime metadata", {}, {}},
    };
    const auto writer = std::make_shared<UniversalTagWriter>();
    const UniversalTagReader reader;
    const auto settings = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fixture);
        QTemporaryDir dir;
        const QString path = TestFiles::copyFixture(row.fixture, dir);
        const QByteArray original = TestFiles::readFile(path);
        const Snapshot before = snapshot(path, row.format);
        std::optional<MusicFile> file = FileScannerService().readFile(path, reader);
        ASSERT_TRUE(file.has_value());
        file->discoveredYear = row.lookedUpYear;

        WriteUndoManager undo;
        const TagUpdateService service(writer, &undo);
        const TagUpdateService::UpdateResult result =
            service.updateFile(*file, [settings] { return settings; });
        const QStringList leftInFolder =
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        EXPECT_EQ(leftInFolder, QStringList{QFileInfo(path).fileName()});
        if (row.refusal != nullptr) {
            EXPECT_FALSE(result.success);
            EXPECT_TRUE(result.errorMessage.value_or(QString()).contains(QLatin1String(row.refusal)));
            EXPECT_EQ(TestFiles::readFile(path), original);
            continue;
        }
        ASSERT_TRUE(result.success) << result.errorMessage.value_or(QString()).toStdString();
        const Snapshot written = snapshot(path, row.format);
        EXPECT_EQ(written.genre, row.genreAfter);
        EXPECT_TRUE(row.goneAfter.isEmpty() || !TestFiles::readFile(path).contains(row.goneAfter));
        EXPECT_EQ(written.otherTags, before.otherTags);
        EXPECT_EQ(written.audio, before.audio);
        EXPECT_EQ(undo.undoLastSession(*writer).restored, 1);
        EXPECT_TRUE(snapshot(path, row.format) == before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), leftInFolder);
    }
}
