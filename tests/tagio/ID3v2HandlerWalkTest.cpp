// The year and genre reads walk the frame headers of a tag in the file and
// read only the bodies they need. These tests hold them to the results of the
// whole-tag read (readTag, then findTextFrame and findGenreFrame) on every ID3
// fixture, on synthetic tags and on many damaged variants of them.

#include "tagio/ID3v2Handler.h"

#include "Id3Bytes.h"
#include "QtPrinters.h"
#include "ReadOutcome.h"
#include "TestFiles.h"
#include "model/AppError.h"
#include "model/DecadeRule.h"
#include "tagio/ByteSource.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace Id3Bytes;

namespace {

using Outcome = ReadOutcome;

// The reference: the whole tag read into memory, then searched.
Outcome wholeTagRead(const QString& path) {
    Outcome out;
    try {
        const auto source = ByteSource::open(path);
        if (!source) {
            throw AppError::tagReadFailed(path, QStringLiteral("open"));
        }
        const auto tag = ID3v2Handler::readTag(*source, path);
        if (!tag) {
            return out;
        }
        if (const auto text = ID3v2Handler::findTextFrame({"TYER", "TDRC"}, *tag)) {
            out.year = extractYear(*text);
        }
        out.genre = ID3v2Handler::findGenreFrame(*tag);
    } catch (const AppError&) {
        return Outcome{std::nullopt, std::nullopt, true};
    }
    return out;
}

Outcome headerWalk(const QString& path) {
    try {
        const auto source = ByteSource::open(path);
        if (!source) {
            throw AppError::tagReadFailed(path, QStringLiteral("open"));
        }
        const ID3v2Handler::YearAndGenre found = ID3v2Handler::readYearAndGenre(*source, path);
        return Outcome{found.year, found.genre, false};
    } catch (const AppError&) {
        return Outcome{std::nullopt, std::nullopt, true};
    }
}

Outcome separateReads(const QString& path) {
    try {
        return Outcome{ID3v2Handler::readYear(path), ID3v2Handler::readGenre(path), false};
    } catch (const AppError&) {
        return Outcome{std::nullopt, std::nullopt, true};
    }
}

// Both reads of the file agree; gives the outcome.
Outcome expectSameResults(const QString& path) {
    const Outcome reference = wholeTagRead(path);
    EXPECT_EQ(headerWalk(path), reference) << path.toStdString();
    EXPECT_EQ(separateReads(path), reference) << path.toStdString();
    return reference;
}

// Random bytes with many 0xFF, as in compressed picture data.
QByteArray noise(int n, uint32_t seed) {
    std::mt19937 random(seed);
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i) {
        const uint32_t r = random();
        out[i] = char((r & 0x300) == 0 ? 0xFF : (r & 0xFF));
    }
    return out;
}

QByteArray picture(int n, uint32_t seed = 7) {
    return QByteArray("\0image/jpeg\0\3\0", 14) + noise(n, seed);
}

QByteArray undoUnsync(const QByteArray& frames) {
    QByteArray out;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        out += frames[i];
        if (uint8_t(frames[i]) == 0xFF) {
            out += '\0';
        }
    }
    return out;
}

struct Synthetic {
    const char* name;
    QByteArray tag;
};

QList<Synthetic> syntheticTags() {
    const QByteArray tcon3 = frame("TCON", text(0, "House"));
    const QByteArray tyer3 = frame("TYER", text(0, "1987"));
    const QByteArray tcon4 = frame("TCON", text(3, "Techno"), true);
    const QByteArray tdrc4 = frame("TDRC", text(3, "1994-03-01"), true);
    const QByteArray tit2 = frame("TIT2", text(1, QByteArray::fromHex("FFFE41004200")));
    const QByteArray pad(512, '\0');
    const QByteArray apic3 = frame("APIC", picture(100000));
    const QByteArray apic4 = frame("APIC", picture(100000), true);
    // A picture frame with a big-endian size in an ID3v2.4 tag, as some writers made them.
    const QByteArray apic4be = frame("APIC", picture(100000), false);

    QByteArray ext3 = be32(6) + QByteArray(6, '\0');
    QByteArray ext4 = syncsafe(6) + QByteArray::fromHex("010000");
    ext4 += QByteArray(6 - ext4.size(), '\0');

    // A v2.4 frame with per-frame unsynchronisation and a data-length indicator.
    const QByteArray unsyncTcon =
        frame("TCON", syncsafe(5) + QByteArray::fromHex("00FF004142"), true, 0, 0x03);
    const QByteArray compressed = frame("TCON", syncsafe(5) + QByteArray("xxxxx"), true, 0, 0x09);
    const QByteArray encrypted = frame("TCON", QByteArray("\x01zzzz", 5), true, 0, 0x04);
    QByteArray overrun = frame("TXXX", text(0, "abc"));
    overrun[7] = char(0x7F);

    return {
        {"v23 picture before the genre", tag(3, tit2 + apic3 + tcon3 + tyer3 + pad)},
        {"v23 picture last, no padding", tag(3, tcon3 + tyer3 + apic3)},
        {"v23 picture between year and genre", tag(3, tyer3 + apic3 + tcon3 + pad)},
        {"v24 picture before the genre", tag(4, tit2 + apic4 + tcon4 + tdrc4 + pad)},
        {"v24 picture last, then padding", tag(4, tcon4 + tdrc4 + apic4 + pad)},
        {"v24 picture last, no padding", tag(4, tcon4 + tdrc4 + apic4)},
        {"v24 big-endian picture size", tag(4, apic4be + tcon4 + tdrc4 + pad)},
        {"v24 big-endian picture size, last", tag(4, tcon4 + apic4be + pad)},
        {"v24 padding then stray bytes", tag(4, apic4 + pad + "JUNK" + pad)},
        {"v23 tag-level unsynchronisation", tag(3, undoUnsync(apic3 + tcon3 + tyer3) + pad, 0x80)},
        {"v24 unsynchronisation flag", tag(4, apic4 + unsyncTcon + tdrc4 + pad, 0x80)},
        {"v23 extended header", tag(3, ext3 + apic3 + tcon3 + tyer3 + pad, 0x40)},
        {"v24 extended header", tag(4, ext4 + tcon4 + tdrc4 + pad, 0x40)},
        {"extended header past the end", tag(3, be32(5000) + tcon3, 0x40)},
        {"empty year frame, then TDRC", tag(3, frame("TYER", "") + frame("TDRC", text(0, "2003")) + tcon3)},
        {"undecodable year ends the search", tag(4, frame("TYER", text(3, "\xC3"), true) + tdrc4 + tcon4)},
        {"implausible year", tag(3, frame("TDRC", text(0, "1600")) + tyer3)},
        {"undecodable genre, then a good one", tag(3, frame("TCON", text(3, "\xFF")) + apic3 + tcon3)},
        {"compressed and encrypted genres", tag(4, compressed + encrypted + tcon4 + pad)},
        {"frame runs past the end", tag(3, tyer3 + overrun + tcon3)},
        {"invalid frame ID", tag(3, frame("TX X", "abc") + tcon3)},
        {"padding first", tag(3, QByteArray(10, '\0') + tcon3)},
        {"header only", tag(3, {})},
        {"no frames but padding", tag(4, pad)},
        {"genre only", tag(3, tcon3 + pad)},
        {"not a tag", QByteArray("XYZ\3\0\0\0\0\0\x10") + tcon3},
    };
}

// The tag as an MP3 file, an AIFF file and a WAV file.
QList<QPair<QString, QByteArray>> containers(const QByteArray& tagBytes) {
    return {
        {QStringLiteral("mp3"), tagBytes + audio(256)},
        {QStringLiteral("aiff"), aiff({{"COMM", aiffComm(16)}, {"SSND", audio(24)}, {"ID3 ", tagBytes}})},
        {QStringLiteral("wav"), wav({{"fmt ", wavFmt()}, {"id3 ", tagBytes}, {"data", audio(16)}})},
    };
}

} // namespace

TEST(ID3v2HandlerWalk, FixturesGiveTheResultsOfTheWholeTagRead) {
    int withBoth = 0;
    int files = 0;
    for (const char* folder : {"id3", "scan"}) {
        const QDir dir(TestFiles::fixturePath(QString::fromLatin1(folder)));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            SCOPED_TRACE(name.toStdString());
            const Outcome o = expectSameResults(dir.filePath(name));
            ++files;
            if (o.year && o.genre) {
                ++withBoth;
            }
        }
    }
    EXPECT_GE(files, 30);
    EXPECT_GE(withBoth, 15); // the comparison is not vacuous
}

TEST(ID3v2HandlerWalk, SyntheticTagsGiveTheResultsOfTheWholeTagRead) {
    QTemporaryDir dir;
    int index = 0;
    for (const Synthetic& s : syntheticTags()) {
        SCOPED_TRACE(s.name);
        for (const auto& [ext, bytes] : containers(s.tag)) {
            const QString path = dir.filePath(QStringLiteral("t%1.%2").arg(index++).arg(ext));
            TestFiles::writeFile(path, bytes);
            expectSameResults(path);
        }
    }
    // Spot checks that the cases read what they were made for.
    const auto read = [&](const QByteArray& tagBytes) {
        const QString path = dir.filePath(QStringLiteral("spot.mp3"));
        TestFiles::writeFile(path, tagBytes + audio(64));
        return headerWalk(path);
    };
    const QList<Synthetic> tags = syntheticTags();
    EXPECT_EQ(read(tags[0].tag), (Outcome{1987, QStringLiteral("House")}));
    EXPECT_EQ(read(tags[4].tag), (Outcome{1994, QStringLiteral("Techno")}));
    EXPECT_EQ(read(tags[6].tag), (Outcome{1994, QStringLiteral("Techno")}));
    EXPECT_EQ(read(tags[9].tag), (Outcome{1987, QStringLiteral("House")}));
    EXPECT_EQ(read(tags[10].tag), (Outcome{1994, QString::fromLatin1(QByteArray::fromHex("FF4142"))}));
}

TEST(ID3v2HandlerWalk, DamagedTagsGiveTheResultsOfTheWholeTagRead) {
    // Random changes to the header and frame bytes of every synthetic tag (a
    // fixed seed, so a failure repeats).
    QTemporaryDir dir;
    std::mt19937 random(20240611);
    const QByteArray special = QByteArray::fromHex("00FF7F80544159");
    int index = 0;
    for (const Synthetic& s : syntheticTags()) {
        const QByteArray base = s.tag + audio(64);
        // Positions near the tag header and the frame headers are the interesting ones.
        QList<qint64> hot;
        for (qint64 p = 3; p < std::min<qint64>(base.size(), 40); ++p) {
            hot.append(p);
        }
        for (qsizetype p = base.indexOf("APIC"); p >= 0; p = base.indexOf("APIC", p + 1)) {
            for (qint64 q = p; q < p + 10; ++q) {
                hot.append(q);
            }
        }
        for (int round = 0; round < 40; ++round) {
            QByteArray bytes = base;
            const int changes = 1 + int(random() % 3);
            for (int c = 0; c < changes; ++c) {
                const qint64 at =
                    random() % 2 ? hot.at(random() % hot.size()) : qint64(random() % base.size());
                bytes[at] = random() % 2 ? special[random() % special.size()] : char(random() & 0xFF);
            }
            const QString path = dir.filePath(QStringLiteral("d%1.mp3").arg(index++));
            TestFiles::writeFile(path, bytes);
            SCOPED_TRACE(std::string(s.name) + " round " + std::to_string(round));
            expectSameResults(path);
            QFile::remove(path);
        }
    }
}

TEST(ID3v2HandlerWalk, PictureBytesAreNotRead) {
    QTemporaryDir dir;

    // The tag runs on past the end of the file as it is when the read starts
    // (the size is taken when the file is opened): the whole-tag read fails,
    // the walk needs only the frames before the picture.
    const QByteArray tagBytes = tag(3, frame("TCON", text(0, "Cut")) + frame("TYER", text(0, "1999")) +
                                           frame("APIC", picture(50000)));
    const QString path = dir.filePath(QStringLiteral("cut.mp3"));
    TestFiles::writeFile(path, tagBytes + audio(64));
    const auto source = ByteSource::open(path);
    ASSERT_TRUE(source);
    ASSERT_TRUE(QFile::resize(path, 8192));
    EXPECT_THROW(ID3v2Handler::readTag(*source, path), AppError);
    const ID3v2Handler::YearAndGenre found = ID3v2Handler::readYearAndGenre(*source, path);
    EXPECT_EQ(found.year, 1999);
    EXPECT_EQ(found.genre, QStringLiteral("Cut"));

    // A WAV whose ID3 chunk holds a 3 GiB picture frame (a sparse file) before
    // the genre and year frames: the walk steps over it.
    const qint64 hole = qint64(3) << 30;
    const QString wavPath = dir.filePath(QStringLiteral("huge.wav"));
    {
        const QByteArray after = frame("TCON", text(0, "Huge")) + frame("TYER", text(0, "2001"));
        const qint64 tagLength = 10 + 10 + hole + after.size();
        const QByteArray head = QByteArray("RIFF") + le32(0xFFFFFFF0u) + "WAVE" +
                                chunk("fmt ", wavFmt(), true) + "id3 " + le32(uint32_t(tagLength)) + "ID3" +
                                char(3) + char(0) + char(0) + syncsafe(0x0FFFFFFF) + "APIC" +
                                be32(uint32_t(hole)) + QByteArray(2, '\0');
        QFile f(wavPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(head), head.size());
        ASSERT_TRUE(f.seek(head.size() + hole));
        ASSERT_EQ(f.write(after), after.size());
    }
    EXPECT_EQ(ID3v2Handler::readGenre(wavPath), QStringLiteral("Huge"));
    EXPECT_EQ(ID3v2Handler::readYear(wavPath), 2001);
}
