#include "tagio/flac/FLACHandler.h"

#include "AppliedPieces.h"
#include "TagProbe.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/SettingsSnapshot.h"
#include "services/FileScannerService.h"
#include "services/TagUpdateService.h"
#include "services/WriteUndoManager.h"
#include "tagio/ByteSource.h"
#include "tagio/Bytes.h"
#include "tagio/FilePieces.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using Comment = FLACHandler::VorbisComment;

namespace {

struct Block {
    int type = 0;
    bool isLast = false;
    QByteArray body;
};

QByteArray image(const QList<Block>& blocks, const QByteArray& audio) {
    QByteArray out("fLaC");
    for (const Block& block : blocks) {
        out.append(char(block.type | (block.isLast ? 0x80 : 0)));
        Bytes::appendU24BE(out, uint32_t(block.body.size()));
        out.append(block.body);
    }
    return out + audio;
}

QList<FLACHandler::MetadataBlock> blocks(const QByteArray& image) {
    return FLACHandler::parseMetadataBlocks(image, "/m/x.flac");
}

// The raw entries the comment parser gives for a comment body.
QStringList rawEntries(const QByteArray& body) {
    QStringList out;
    std::ranges::transform(FLACHandler::parseVorbisComment(body), std::back_inserter(out), &Comment::raw);
    return out;
}

// A comment body from raw entries, with a declared count that may differ.
QByteArray commentBody(const QByteArray& vendor, const QList<QByteArray>& entries, int declaredCount = -1) {
    QByteArray body;
    Bytes::appendU32LE(body, uint32_t(vendor.size()));
    body.append(vendor);
    Bytes::appendU32LE(body, uint32_t(declaredCount < 0 ? entries.size() : declaredCount));
    for (const QByteArray& e : entries) {
        Bytes::appendU32LE(body, uint32_t(e.size()));
        body.append(e);
    }
    return body;
}

// STREAMINFO: 4096-sample blocks, 44.1 kHz, 2 channels, 16 bits, 44100 samples.
const Block info{0, false, QByteArray::fromHex("100010000000000000000AC442F00000AC44") + QByteArray(16, 0)};

} // namespace

TEST(FLACHandlerTest, ParseSkipsBrokenEntriesAndNeverReadsOutside) {
    const QList<Comment> comments = FLACHandler::parseVorbisComment(
        commentBody("vendor", {"Genre=Deep House", "TITLE=\xff\xfe", "NOEQUALS", "=empty key", "A=b=c",
                               "X=\xc0\xaf", "Y=\xed\xa0\x80", "ARTIST="}));
    EXPECT_EQ(comments, (QList<Comment>{{"GENRE", "Deep House", "Genre=Deep House"},
                                        {"", "empty key", "=empty key"},
                                        {"A", "b=c", "A=b=c"}, {"ARTIST", "", "ARTIST="}}));
    QByteArray hugeVendor = commentBody("v", {"A=1"});
    hugeVendor.replace(0, 4, QByteArray(4, char(0xFF)));
    QByteArray hugeEntry = commentBody("v", {"A=1", "B=2"});
    hugeEntry.replace(hugeEntry.size() - 7, 4, QByteArray(4, char(0xFF)));
    const struct {
        QByteArray body;
        QStringList entries;
    } cases[] = {
        {commentBody("", {"NOEQ", "A=1", "B=2"}, 2), {"A=1"}}, // skipped entries count; extras are not read
        {commentBody("", {"A=1"}, 1000000), {"A=1"}}, {hugeVendor, {}}, {hugeEntry, {"A=1"}},
        {commentBody("v", {"A=1"}, 0), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rawEntries(c.body), c.entries) << c.body.toHex().toStdString();
    }
}

TEST(FLACHandlerTest, UpdateReplacesEntriesAndKeepsTheVendor) {
    const QByteArray old = commentBody("Old Vendor", {"genre=House", "YEAR=1999", "TITLE=t", "DATE=1998",
                                                      "GENRE=Pop", "BAD=\xff", "ARTIST=a"});
    const auto update = [](const QByteArray& body, std::optional<int> year, std::optional<QString> title,
                           std::optional<QString> artist) {
        return FLACHandler::updateVorbisComment(body, "G", year, title, artist);
    };
    const QByteArray updated = update(old, 2001, {}, {});
    EXPECT_EQ(updated.mid(4, 10), QByteArray("Old Vendor"));
    // The reported (last) GENRE entry is replaced.
    EXPECT_EQ(rawEntries(updated),
              (QStringList{"genre=House", "DATE=2001", "TITLE=t", "DATE=1998", "GENRE=G", "ARTIST=a"}));
    EXPECT_EQ(rawEntries(update(old, {}, "T2", "A2")),
              (QStringList{"genre=House", "YEAR=1999", "TITLE=T2", "DATE=1998", "GENRE=G", "ARTIST=A2"}));
    // Missing entries are appended in the order genre, date, title, artist.
    EXPECT_EQ(rawEntries(update(commentBody("v", {"ALBUM=al"}), 1980, "T", "A")),
              (QStringList{"ALBUM=al", "GENRE=G", "DATE=1980", "TITLE=T", "ARTIST=A"}));
    // A vendor that is not UTF-8, or runs even one byte past the body, becomes empty.
    const auto vendorLength = [&](const QByteArray& body) {
        return FLACHandler::readUInt32LE(update(body, {}, {}, {}), 0);
    };
    EXPECT_EQ(vendorLength(commentBody("\xff", {})), 0u);
    EXPECT_EQ(vendorLength(QByteArray("\x05\x00\x00\x00vvvvv", 9)), 5u);
    EXPECT_EQ(vendorLength(QByteArray("\x06\x00\x00\x00vvvvv", 9)), 0u);
}

// One comment block after STREAMINFO, a last 256-byte padding, all else byte for byte; decodable.
TEST(FLACHandlerTest, RewriteKeepsEveryOtherBlockAndStaysValid) {
    QTemporaryDir dir;
    const QString path = TestFiles::copyFixture("flac/tagged.flac", dir);
    const QByteArray before = TestFiles::readFile(path);
    const QByteArray after = AppliedPieces::apply(
        FLACHandler::writeGenre("House 80er", 1987, {}, {}, SourceBytes(before), path), before);
    TestFiles::writeFile(path, after);
    const auto old = blocks(before);
    const auto now = blocks(after);
    ASSERT_EQ(now.size(), 4);
    const auto end = [](const auto& blocks) { return blocks.last().headerOffset + 4 + blocks.last().length; };
    EXPECT_EQ(after.mid(end(now)), before.mid(end(old)));
    EXPECT_EQ((QList<int>{now[0].blockType, now[1].blockType, now[2].blockType, now[3].blockType}),
              (QList<int>{0, 4, 3, 1}));
    EXPECT_EQ(now[0].data, old[0].data);
    const auto seekTable = [&](const auto& b) { return b.blockType == 3 && b.data == now[2].data; };
    EXPECT_TRUE(std::ranges::any_of(old, seekTable)); // kept byte for byte
    EXPECT_TRUE(now[3].isLast && now[3].data == QByteArray(256, '\0'));
    QProcess flac;
    flac.start("flac", {"-t", "-s", path});
    ASSERT_TRUE(flac.waitForFinished(60000)) << flac.errorString().toStdString();
    EXPECT_EQ(flac.exitCode(), 0) << flac.readAllStandardError().toStdString();

    EXPECT_EQ(rawEntries(now[1].data),
              (QStringList{"TITLE=Nachtfahrt (Extended Mix)", "ARTIST=Ölüm & Söhne", "ALBUM=Späte Stunden",
                           "genre=House", "GENRE=House 80er", "DATE=1987", "YEAR=1987", "YEAR=1991",
                           "COMMENT=keep me"}));
    const auto fields = TagProbe::properties(path, AudioFormat::flac);
    EXPECT_EQ(fields.value("GENRE"), (QStringList{"House", "House 80er"}));
    EXPECT_EQ(fields.value("YEAR"), (QStringList{"1987", "1991"}));
    // Writing the same values again gives the same bytes.
    EXPECT_EQ(AppliedPieces::apply(
                  FLACHandler::writeGenre("House 80er", 1987, {}, {}, SourceBytes(after), path), after),
              after);
}

// Damaged metadata is never read past the file nor written; a block running past the end fails
// the read too. A STREAMINFO out of place is no damage: the write moves it to the front.
TEST(FLACHandlerTest, DamagedOrOversizedMetadataIsNeverWritten) {
    const QString path = QStringLiteral("/m/x.flac");
    const AppError magic = AppError::tagReadFailed(path, "Not a valid FLAC file (missing magic bytes)");
    const AppError bounds = AppError::tagReadFailed(path, "FLAC metadata block extends beyond file bounds");
    const AppError noLastFlag = AppError::tagWriteFailed(path, "FLAC metadata has no last-block flag");
    const QByteArray body = commentBody("v", {"GENRE=Funk", "DATE=1975"});
    QByteArray lying = image({info, {4, true, body}}, {});
    lying.replace(4 + 4 + 34 + 1, 3, QByteArray(3, char(0xFF))); // 16 MiB - 1 in a file of a few bytes
    QByteArray skip = image({{2, false, "VLMR"}, {4, true, body}}, {});
    skip[7] = char(0x7F); // a skipped block running past the end
    const QList<Block> many = QList<Block>{info} + QList<Block>(126, {2, false, "APPL"});
    const QList<Block> walked(FLACHandler::maxBlocks, {2, false, {}});
    const AppError tooMany = AppError::tagWriteFailed(path, "FLAC metadata holds too many blocks");
    const QByteArray original = TestFiles::readFile(TestFiles::fixturePath("flac/nopadding.flac"));
    QByteArray noLast = original;
    const qint64 commentHeader = blocks(original).last().headerOffset;
    ASSERT_EQ(uint8_t(noLast[commentHeader]), 0x84);
    noLast[commentHeader] = char(0x04); // the walk runs into the audio frames
    const struct {
        const char* name;
        QByteArray image;
        int comments; // -1: the read fails
        std::optional<AppError> error;
    } cases[] = {
        {"sound", image({info, {4, true, body}}, "AUDIO"), 2, {}},
        {"lying length", lying, -1, bounds},
        {"last block one byte short", image({info, {4, true, body}}, {}).chopped(1), -1, bounds},
        {"header cut off", image({info}, "\x04\x00"), -1, noLastFlag},
        {"skip too long", skip, -1, bounds},
        {"last flag before the comments", image({{0, true, info.body}, {4, true, body}}, {}), 0, {}},
        {"comments as 128th header", image(many + QList<Block>{{4, true, body}}, {}), 2, {}},
        {"comments as 129th header", image(many + QList<Block>{{2, false, "A"}, {4, true, body}}, {}), 2, {}},
        {"after the last block walked", image(walked + QList<Block>{{4, true, body}}, {}), -1, tooMany},
        {"ID3 in front", TestFiles::readFile(TestFiles::fixturePath("flac/id3front.flac")), -1, magic},
        {"cut magic", "fL", -1, magic},
        {"cut block", original.left(50), -1, bounds},
        {"no blocks", "fLaC", -1, AppError::tagWriteFailed(path, "No metadata blocks found in FLAC file")},
        {"no last flag before real frames", noLast, -1, bounds},
        {"no last flag, nothing after", image({info}, {}), -1, noLastFlag},
        {"garbage after the marker", "fLaC" + QByteArray(200, 'Z'), -1, bounds},
        {"comments before STREAMINFO", image({{4, false, body}, {0, true, info.body}}, "AUDIO"), 2, {}},
        // 16 MB of audio or more read as a "block" of type 127 whose length fits.
        {"audio as block 127", image({info}, QByteArray::fromHex("FFF80000") + QByteArray(0xF80000, 'a')), 0,
         AppError::tagWriteFailed(path, "FLAC metadata block of invalid type 127")},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        TestFiles::writeFile(dir.filePath("f.flac"), c.image);
        const auto read = [&] { return FLACHandler::readVorbisComments(dir.filePath("f.flac")).size(); };
        const auto write = [&] {
            AppliedPieces::apply(FLACHandler::writeGenre("G", 1990, {}, {}, SourceBytes(c.image), path),
                                 c.image);
        };
        if (c.comments < 0) {
            expectThrows(AppError::Kind::tagReadFailed, read);
        } else {
            EXPECT_EQ(read(), c.comments) << c.name;
        }
        if (c.error) {
            EXPECT_EQ(expectThrows(std::nullopt, write), c.error) << c.name;
        } else {
            EXPECT_NO_THROW(write()) << c.name;
        }
    }
    // The comment block must fit its 24-bit length: 4 + 1 (vendor) + 4 + 4 + "GENRE=".
    const QByteArray small = image({info, {4, true, commentBody("v", {})}}, "AUDIO");
    const QString fits(int(FLACHandler::maxBlockLength - 19), QLatin1Char('g'));
    const QByteArray out =
        AppliedPieces::apply(FLACHandler::writeGenre(fits, {}, {}, {}, SourceBytes(small), path), small);
    EXPECT_EQ(blocks(out).value(1).length, FLACHandler::maxBlockLength);
    EXPECT_TRUE(out.endsWith("AUDIO"));
    const auto tooLarge = expectThrows(AppError::Kind::tagWriteFailed, [&] {
        FLACHandler::writeGenre(fits + 'g', {}, {}, {}, SourceBytes(small), path);
    });
    EXPECT_TRUE(tooLarge && tooLarge->text().startsWith("Vorbis comment block too large"));
}

// Through the scan and the update: a comment block behind many other blocks is seen by the scan,
// so its genre gets the label; one behind more blocks than either walk takes is neither read nor
// written.
TEST(FLACHandlerTest, CommentsBehindManyBlocksAreReadBeforeTheyAreWritten) {
    const struct {
        qsizetype applicationBlocks;
        std::optional<QString> genreAfter; // none: the scan and the write refuse the file
    } rows[] = {
        {130, QStringLiteral("House 80er")},
        {FLACHandler::maxBlocks, std::nullopt},
    };
    QTemporaryDir dir;
    const auto writer = std::make_shared<UniversalTagWriter>();
    WriteUndoManager undo;
    const TagUpdateService service(writer, &undo);
    const auto settings = std::make_shared<const SettingsSnapshot>(SettingsSnapshot::defaults());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.applicationBlocks);
        const QString path = dir.filePath(QStringLiteral("many%1.flac").arg(row.applicationBlocks));
        const QByteArray original =
            image(QList<Block>{info} + QList<Block>(row.applicationBlocks, {2, false, "APPL"}) +
                      QList<Block>{{4, true, commentBody("v", {"GENRE=House"})}},
                  "AUDIO");
        TestFiles::writeFile(path, original);
        std::optional<MusicFile> file = FileScannerService().readFile(path, UniversalTagReader());
        ASSERT_EQ(file.has_value(), row.genreAfter.has_value());
        if (!file) {
            expectThrows(AppError::Kind::tagWriteFailed,
                         [&] { writer->writeGenre("80er", 1987, {}, {}, path, AudioFormat::flac); });
            EXPECT_EQ(TestFiles::readFile(path), original);
            continue;
        }
        EXPECT_EQ(file->genre, "House");
        file->discoveredYear = 1987;
        EXPECT_EQ(service.updateFile(*file, [settings] { return settings; }).writtenGenre, row.genreAfter);
        EXPECT_EQ(FLACHandler::readGenre(path), row.genreAfter);
    }
}

// The walk reads the block headers, not what lies between them: in the scan's read and in the
// write alike, a header behind a picture costs one read of a page at most.
TEST(FLACHandlerTest, EachHeaderBehindAPictureCostsAPageAtMost) {
    if (TestFiles::bytesReadSoFar() < 0) {
        GTEST_SKIP() << "the kernel here does not count the bytes a process reads";
    }
    constexpr qint64 page = 4096;
    const QList<Block> covers(20, {6, false, QByteArray(128 * 1024, 'p')});
    const QList<Block> all = QList<Block>{info, {4, false, commentBody("v", {"GENRE=House"})}} + covers +
                             QList<Block>{{1, true, QByteArray(page, '\0')}};
    QTemporaryDir dir;
    const QString path = dir.filePath("covers.flac");
    TestFiles::writeFile(path, image(all, "AUDIO"));
    const auto read = [&] { return FLACHandler::readTags(path).genre; };
    const auto write = [&] {
        const std::optional<ByteSource> source = ByteSource::open(path);
        return FLACHandler::writeGenre("House 80er", {}, {}, {}, SourceBytes(*source), path).size();
    };
    // Both walk every header: the comments are found, the padding is replaced.
    EXPECT_EQ(read(), "House");
    EXPECT_EQ(write(), QFileInfo(path).size() + 5 - page + FLACHandler::writtenPaddingLength);
    const std::function<void()> walks[] = {read, write};
    for (const auto& walk : walks) {
        const qint64 bytesRead = TestFiles::costInChild(walk).bytesRead;
        EXPECT_GT(bytesRead, 0);
        EXPECT_LE(bytesRead, all.size() * page);
    }
}
