#include "tagio/FLACHandler.h"

#include "FlacFiles.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "tagio/Bytes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using Comment = FLACHandler::VorbisComment;
using FlacFiles::Block;

namespace {

const QString libFlacVendor = QStringLiteral("reference libFLAC 1.4.2 20221022");

QStringList raws(const QList<Comment>& comments) {
    QStringList out;
    for (const Comment& c : comments) {
        out.append(c.raw);
    }
    return out;
}

QList<int> blockTypes(const QByteArray& image) {
    QList<int> out;
    for (const Block& b : FlacFiles::layout(image).blocks) {
        out.append(b.type);
    }
    return out;
}

QByteArray commentBody(const QByteArray& image) {
    for (const Block& b : FlacFiles::layout(image).blocks) {
        if (b.type == 4) {
            return b.body;
        }
    }
    return {};
}

// A comment body from raw entry bytes, with a declared count that may differ.
QByteArray rawCommentBody(const QByteArray& vendor, const QList<QByteArray>& entries,
                          int declaredCount = -1) {
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

AppError expectAppError(const std::function<void()>& call) {
    const auto error = expectThrows(std::nullopt, call);
    return error.value_or(AppError::cancelled());
}

// Checks a rewritten image against the one it came from: blocks other than
// comments and padding byte for byte in their order (STREAMINFO first), one
// comment block after STREAMINFO, one last 256-byte zero padding, the audio
// frames unchanged, and the reference decoder accepts the file. Returns the
// path of the written file.
QString expectSoundRewrite(const QByteArray& before, const QByteArray& after, const QTemporaryDir& dir,
                           const QString& name) {
    const FlacFiles::Layout old = FlacFiles::layout(before);
    const FlacFiles::Layout now = FlacFiles::layout(after);
    EXPECT_GE(now.audioStart, 0);
    EXPECT_EQ(after.mid(now.audioStart), before.mid(old.audioStart)) << "audio frames changed";

    QList<Block> keptBefore;
    QList<Block> keptAfter;
    for (const Block& b : old.blocks) {
        if (b.type != 1 && b.type != 4) {
            keptBefore.append(Block{b.type, false, b.body});
        }
    }
    std::stable_partition(keptBefore.begin(), keptBefore.end(), [](const Block& b) { return b.type == 0; });
    int comments = 0;
    for (qsizetype i = 0; i < now.blocks.size(); ++i) {
        const Block& b = now.blocks[i];
        EXPECT_EQ(b.isLast, i == now.blocks.size() - 1);
        if (b.type == 4) {
            ++comments;
            EXPECT_EQ(i, now.blocks.first().type == 0 ? 1 : 0) << "comment block not right after STREAMINFO";
        } else if (b.type != 1) {
            keptAfter.append(Block{b.type, false, b.body});
        }
    }
    EXPECT_EQ(comments, 1);
    EXPECT_EQ(keptAfter, keptBefore);
    EXPECT_EQ(now.blocks.last().type, 1);
    EXPECT_EQ(now.blocks.last().body, QByteArray(256, '\0'));

    const QString path = dir.filePath(name);
    TestFiles::writeFile(path, after);
    EXPECT_EQ(FlacFiles::flacTestErrors(path), QString());
    return path;
}

} // namespace

// ---------------------------------------------------------------------------
// Reading files

TEST(FLACHandlerRead, DamagedMetadataGivesNoCommentsWithoutReadingPastTheFile) {
    QTemporaryDir dir;
    const QByteArray body = rawCommentBody("v", {"GENRE=Funk", "DATE=1975"});
    const Block info{0, false, FlacFiles::streamInfo(44100, 44100)};
    const auto read = [&](const QString& name, const QByteArray& image) {
        const QString path = dir.filePath(name);
        TestFiles::writeFile(path, image);
        return FLACHandler::readVorbisComments(path);
    };

    EXPECT_EQ(read("ok.flac", FlacFiles::image({info, {4, true, body}}, "AUDIO")).size(), 2);

    // The comment header claims 16 MiB - 1 in a file of a few bytes.
    QByteArray lying = FlacFiles::image({info, {4, true, body}}, {});
    lying[4 + 4 + 34 + 1] = char(0xFF);
    lying[4 + 4 + 34 + 2] = char(0xFF);
    lying[4 + 4 + 34 + 3] = char(0xFF);
    EXPECT_TRUE(read("lying.flac", lying).isEmpty());
    // A comment body one byte short, and a header cut off.
    QByteArray cut = FlacFiles::image({info, {4, true, body}}, {});
    cut.chop(1);
    EXPECT_TRUE(read("cut.flac", cut).isEmpty());
    EXPECT_TRUE(read("header.flac", FlacFiles::image({info}, "\x04\x00")).isEmpty());
    // A skipped block whose length runs past the end.
    QByteArray skip = FlacFiles::image({{2, false, "VLMR"}, {4, true, body}}, {});
    skip[7] = char(0x7F);
    EXPECT_TRUE(read("skip.flac", skip).isEmpty());
    // The last flag ends the walk before a comment block.
    EXPECT_TRUE(read("last.flac", FlacFiles::image({{0, true, info.body}, {4, true, body}}, {})).isEmpty());

    // The walk looks at 128 headers: a comment block as the 128th is found, as the 129th not.
    QList<Block> blocks{info};
    while (blocks.size() < 127) {
        blocks.append({2, false, "APPL"});
    }
    EXPECT_EQ(read("b128.flac", FlacFiles::image(blocks + QList<Block>{{4, true, body}}, {})).size(), 2);
    blocks.append({2, false, "APPL"});
    EXPECT_TRUE(read("b129.flac", FlacFiles::image(blocks + QList<Block>{{4, true, body}}, {})).isEmpty());
}

// ---------------------------------------------------------------------------
// Comment bodies

TEST(FLACHandlerComments, ParseSkipsBrokenEntriesAndKeepsTheRest) {
    const QByteArray body = rawCommentBody(
        "vendor", {"Genre=Deep House", QByteArray("TITLE=\xff\xfe"), "NOEQUALS", "=empty key", "A=b=c",
                   QByteArray("X=\xc0\xaf"), QByteArray("Y=\xed\xa0\x80"), "ARTIST="});
    const QList<Comment> comments = FLACHandler::parseVorbisComment(body);
    ASSERT_EQ(comments.size(), 4);
    EXPECT_EQ(comments[0], (Comment{"GENRE", "Deep House", "Genre=Deep House"}));
    EXPECT_EQ(comments[1], (Comment{"", "empty key", "=empty key"}));
    EXPECT_EQ(comments[2], (Comment{"A", "b=c", "A=b=c"}));
    EXPECT_EQ(comments[3], (Comment{"ARTIST", "", "ARTIST="}));

    // Skipped entries count towards the declared number; extra entries are not read.
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(rawCommentBody("", {"NOEQ", "A=1", "B=2"}, 2))),
              QStringList{"A=1"});
    // A declared count beyond the body returns what was there.
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(rawCommentBody("", {"A=1"}, 1000000))),
              QStringList{"A=1"});
}

TEST(FLACHandlerComments, ParseOfDamagedBodiesNeverReadsOutside) {
    EXPECT_TRUE(FLACHandler::parseVorbisComment({}).isEmpty());
    EXPECT_TRUE(FLACHandler::parseVorbisComment("\x01\x00\x00").isEmpty());
    QByteArray hugeVendor = rawCommentBody("v", {"A=1"});
    hugeVendor[0] = hugeVendor[1] = hugeVendor[2] = hugeVendor[3] = char(0xFF);
    EXPECT_TRUE(FLACHandler::parseVorbisComment(hugeVendor).isEmpty());
    EXPECT_TRUE(FLACHandler::parseVorbisComment(rawCommentBody("v", {"A=1"}, 0)).isEmpty());

    // An entry length of 0xFFFFFFFF stops the walk after the entries before it.
    QByteArray body = rawCommentBody("v", {"A=1", "B=2"});
    body.replace(body.size() - 7, 4, QByteArray(4, char(0xFF)));
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(body)), QStringList{"A=1"});
    body.chop(2); // and a length field cut off by the end
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(body)), QStringList{"A=1"});
}

TEST(FLACHandlerComments, UpdateReplacesReportedEntriesAndKeepsVendor) {
    const QByteArray old = rawCommentBody("Old Vendor", {"genre=House", "YEAR=1999", "TITLE=t", "DATE=1998",
                                                         "GENRE=Pop", QByteArray("BAD=\xff"), "ARTIST=a"});
    QByteArray updated =
        FLACHandler::updateVorbisComment(old, "House 90er", 2001, std::nullopt, std::nullopt);
    EXPECT_EQ(updated.mid(4, 10), QByteArray("Old Vendor"));
    EXPECT_EQ(
        raws(FLACHandler::parseVorbisComment(updated)),
        (QStringList{"genre=House", "DATE=2001", "TITLE=t", "DATE=1998", "GENRE=House 90er", "ARTIST=a"}));

    updated =
        FLACHandler::updateVorbisComment(old, "X", std::nullopt, QStringLiteral("T2"), QStringLiteral("A2"));
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(updated)),
              (QStringList{"genre=House", "YEAR=1999", "TITLE=T2", "DATE=1998", "GENRE=X", "ARTIST=A2"}));

    // Missing entries are appended in the order genre, date, title, artist.
    updated = FLACHandler::updateVorbisComment(rawCommentBody("v", {"ALBUM=al"}), "G", 1980,
                                               QStringLiteral("T"), QStringLiteral("A"));
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(updated)),
              (QStringList{"ALBUM=al", "GENRE=G", "DATE=1980", "TITLE=T", "ARTIST=A"}));

    // A vendor that is not UTF-8, or runs even one byte past the body, becomes empty.
    const auto vendorLength = [](const QByteArray& body) {
        return FLACHandler::readUInt32LE(FLACHandler::updateVorbisComment(body, "G", {}, {}, {}), 0);
    };
    EXPECT_EQ(vendorLength(rawCommentBody("\xff", {})), 0u);
    EXPECT_EQ(vendorLength(QByteArray("\x05\x00\x00\x00vvvvv", 9)), 5u);
    EXPECT_EQ(vendorLength(QByteArray("\x06\x00\x00\x00vvvvv", 9)), 0u);
}

// ---------------------------------------------------------------------------
// Block list

// ---------------------------------------------------------------------------
// Writing

TEST(FLACHandlerWrite, ReplacesReportedEntriesKeepsTheRestAndStaysValid) {
    QTemporaryDir dir;
    const QString source = TestFiles::fixturePath("flac/tagged.flac");
    const QByteArray before = TestFiles::readFile(source);
    const QByteArray after =
        FLACHandler::writeGenre("House 80er", 1987, std::nullopt, std::nullopt, before, source);
    const QString path = expectSoundRewrite(before, after, dir, "tagged.flac");

    EXPECT_EQ(blockTypes(after), (QList<int>{0, 4, 3, 1}));
    const QByteArray body = commentBody(after);
    EXPECT_EQ(body.mid(4, libFlacVendor.size()), libFlacVendor.toUtf8());
    EXPECT_EQ(raws(FLACHandler::parseVorbisComment(body)),
              (QStringList{"TITLE=Nachtfahrt (Extended Mix)", "ARTIST=Ölüm & Söhne", "ALBUM=Späte Stunden",
                           "genre=House", "GENRE=House 80er", "DATE=1987", "YEAR=1987", "YEAR=1991",
                           "COMMENT=keep me"}));

    EXPECT_EQ(FLACHandler::readGenre(path), QStringLiteral("House 80er"));
    const TagData tags = FLACHandler::readTags(path);
    EXPECT_EQ(tags.genre, QStringLiteral("House 80er"));
    EXPECT_EQ(tags.year, 1987);
    EXPECT_EQ(tags.title, QStringLiteral("Nachtfahrt (Extended Mix)"));

    const auto fields = FlacFiles::taglibFields(path);
    EXPECT_EQ(fields.value("GENRE"), (QStringList{"House", "House 80er"}));
    EXPECT_EQ(fields.value("YEAR"), (QStringList{"1987", "1991"}));
    EXPECT_EQ(fields.value("COMMENT"), QStringList{"keep me"});

    // Writing the result again with the same values gives the same bytes.
    EXPECT_EQ(FLACHandler::writeGenre("House 80er", 1987, std::nullopt, std::nullopt, after, path), after);
}

TEST(FLACHandlerWrite, RefusesWhatItCannotWriteSoundly) {
    const QString source = TestFiles::fixturePath("flac/nopadding.flac");
    const QByteArray original = TestFiles::readFile(source);
    const QString path = QStringLiteral("/music/x.flac");
    const auto write = [&](const QByteArray& image) {
        return expectAppError(
            [&] { FLACHandler::writeGenre("G", 1990, std::nullopt, std::nullopt, image, path); });
    };

    // An ID3 tag in front of the marker.
    const QByteArray id3 = TestFiles::readFile(TestFiles::fixturePath("flac/id3front.flac"));
    AppError error = expectAppError([&] { FLACHandler::validateMagic(id3, path); });
    EXPECT_EQ(error, AppError::tagReadFailed(path, "Not a valid FLAC file (missing magic bytes)"));
    EXPECT_EQ(write(id3), error);
    EXPECT_EQ(write("fL"), error);
    EXPECT_NO_THROW(FLACHandler::validateMagic(original, path));

    EXPECT_EQ(write("fLaC"), AppError::tagWriteFailed(path, "No metadata blocks found in FLAC file"));
    EXPECT_EQ(write(original.left(50)),
              AppError::tagReadFailed(path, "FLAC metadata block extends beyond file bounds"));

    // No last flag: the walk runs into the audio. Real frames give a length past the end ...
    QByteArray noLast = original;
    const qint64 commentHeader = FlacFiles::layout(original).audioStart - 4 - 95;
    ASSERT_EQ(uint8_t(noLast[commentHeader]), 0x84);
    noLast[commentHeader] = char(0x04);
    EXPECT_EQ(write(noLast), AppError::tagReadFailed(path, "FLAC metadata block extends beyond file bounds"));
    // ... or, in a file with 16 MB of audio or more, a "block" of type 127 whose length fits.
    const QByteArray frame = QByteArray("\xff\xf8\x00\x00", 4) + QByteArray(0xF80000, 'a');
    error = write(FlacFiles::image({{0, false, FlacFiles::streamInfo(44100, 1)}}, frame));
    EXPECT_EQ(error.kind(), AppError::Kind::tagWriteFailed);
    EXPECT_EQ(error.text(), QStringLiteral("FLAC metadata block of invalid type 127"));
    // A last block one byte short of its declared length.
    EXPECT_EQ(write(FlacFiles::image({{0, true, FlacFiles::streamInfo(44100, 1)}}, {}).chopped(1)),
              AppError::tagReadFailed(path, "FLAC metadata block extends beyond file bounds"));
    // No last flag and nothing after the metadata.
    error = write(FlacFiles::image({{0, false, FlacFiles::streamInfo(44100, 1)}}, {}));
    EXPECT_EQ(error, AppError::tagWriteFailed(path, "FLAC metadata has no last-block flag"));
}

TEST(FLACHandlerWrite, CommentBlockMustFitThe24BitLength) {
    const QByteArray image = FlacFiles::image(
        {{0, false, FlacFiles::streamInfo(44100, 1)}, {4, true, rawCommentBody("v", {})}}, "AUDIO");
    // Body = 4 + 1 (vendor) + 4 (count) + 4 (entry length) + "GENRE=" + genre.
    const qint64 fixed = 4 + 1 + 4 + 4 + 6;
    const QString fits(int(FLACHandler::maxBlockLength - fixed), QLatin1Char('g'));
    const QByteArray out =
        FLACHandler::writeGenre(fits, std::nullopt, std::nullopt, std::nullopt, image, "/a.flac");
    const FlacFiles::Layout written = FlacFiles::layout(out);
    ASSERT_EQ(written.blocks.size(), 3);
    EXPECT_EQ(written.blocks[1].body.size(), FLACHandler::maxBlockLength);
    EXPECT_EQ(FlacFiles::audioFrames(out), QByteArray("AUDIO"));

    const QString tooLong = fits + QLatin1Char('g');
    const AppError error = expectAppError([&] {
        FLACHandler::writeGenre(tooLong, std::nullopt, std::nullopt, std::nullopt, image, "/a.flac");
    });
    EXPECT_EQ(error.kind(), AppError::Kind::tagWriteFailed);
    EXPECT_EQ(error.url(), QStringLiteral("/a.flac"));
    EXPECT_TRUE(error.text().startsWith(QStringLiteral("Vorbis comment block too large")));
}
