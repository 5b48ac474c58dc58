// The year and genre reads walk the atom headers of moov/udta/meta/ilst and
// read only the items they need. These tests hold them to the results of the
// whole-moov read on every MP4 fixture, on synthetic files, on truncated files
// and on many randomly damaged variants.

#include "tagio/MP4Handler.h"

#include "Mp4Bytes.h"
#include "Mp4Check.h"
#include "QtPrinters.h"
#include "ReadOutcome.h"
#include "TestFiles.h"
#include "model/AppError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace Mp4Bytes;

namespace {

using Outcome = ReadOutcome;

Outcome fromPair(const MP4Handler::YearAndGenre& found) {
    return Outcome{found.year, found.genre, false};
}

class MP4HandlerWalkTest : public ::testing::Test {
protected:
    // Every read of the file gives what the whole-moov read gives; returns that
    // outcome, and through `walked` whether the walk could tell on its own.
    Outcome expectSameResults(const QString& path, bool* walked = nullptr) {
        const Outcome reference =
            outcomeOf([&] { return fromPair(handler.readYearAndGenreFromWholeMovie(path)); });
        EXPECT_EQ(outcomeOf([&] { return fromPair(handler.readYearAndGenre(path)); }), reference);
        EXPECT_EQ(outcomeOf([&] {
                      return Outcome{handler.readYear(path), handler.readGenre(path)};
                  }),
                  reference);
        bool told = false;
        const Outcome walk = outcomeOf([&] {
            const auto found = handler.readYearAndGenreByHeaderWalk(path);
            told = found.has_value();
            return found ? fromPair(*found) : Outcome{};
        });
        if (told || walk.failed) {
            EXPECT_EQ(walk, reference);
        }
        if (walked) {
            *walked = told;
        }
        return reference;
    }

    QString put(const QByteArray& bytes) {
        const QString path = dir.filePath(QStringLiteral("f%1.m4a").arg(index++));
        TestFiles::writeFile(path, bytes);
        return path;
    }

    QTemporaryDir dir;
    int index = 0;
    MP4Handler handler{Mp4Check::id3v1GenreNames()};
};

QByteArray noise(int n, uint32_t seed) {
    std::mt19937 random(seed);
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i) {
        out[i] = char(random() & 0xFF);
    }
    return out;
}

QByteArray cover(int n) {
    return atom("covr", dataAtom(noise(n, 7), 13));
}

// A movie header and one track with sample tables, as before the user data.
QByteArray track() {
    const QByteArray stbl = atom("stbl", atom("stsz", u32(0) + u32(0) + u32(200) + noise(800, 3)) +
                                             atom("stco", u32(0) + u32(1) + u32(48)));
    return atom("mvhd", QByteArray(100, '\0')) + atom("trak", atom("mdia", atom("minf", stbl)));
}

struct Synthetic {
    const char* name;
    QByteArray file;
    bool walks = true; // the header walk can tell without the whole moov
};

QList<Synthetic> syntheticFiles(int coverLength) {
    const QByteArray gen = textItem(kGen, "Deep House");
    const QByteArray day = textItem(kDay, "1987-06-01");
    const QByteArray nam = textItem(kNam, "Title");
    const QByteArray covr = cover(coverLength);
    const QByteArray directMeta = fullMeta(atom("ilst", textItem(kGen, "Direct") + textItem(kDay, "2010")));
    const auto moovWith = [&](const QByteArray& children) {
        return ftyp() + atom("moov", children);
    };
    const auto udtaItems = [&](const QByteArray& items) {
        return atom("udta", fullMeta(atom("hdlr", QByteArray(25, '\0')) + atom("ilst", items)));
    };
    QByteArray sizeZeroMoov = moovWith(track() + udtaItems(gen + day));
    sizeZeroMoov.replace(ftyp().size(), 4, u32(0));
    QByteArray coverToEnd = fileWithItems(gen + day + covr);
    coverToEnd.replace(coverToEnd.size() - covr.size(), 4, u32(0));
    QByteArray longItem = fileWithItems(day + gen + nam);
    longItem.replace(longItem.size() - nam.size() - gen.size(), 4, u32(0x7FFFFFFF));
    const QByteArray junk = QByteArray::fromHex("00000003ABCD");
    // No atom at its first byte (a 64-bit size below 16); one byte on, the
    // parser reads an atom of 0x16A bytes that ends where the next item starts.
    const QByteArray realigning = u32(1) + "junk" + QByteArray(8, '\0') + QByteArray(0x16A - 15, 'f');

    return {
        {"cover before the genre", moovWith(track() + udtaItems(nam + day + covr + gen))},
        {"cover first", moovWith(track() + udtaItems(covr + gen + day))},
        {"cover last", moovWith(track() + udtaItems(gen + day + covr))},
        {"moov after the media",
         ftyp() + atom("mdat", noise(4000, 5)) + atom("moov", track() + udtaItems(covr + day + gen))},
        {"genre number only", fileWithItems(covr + genreNumberItem(18) + day)},
        {"number before the text", fileWithItems(genreNumberItem(18) + covr + gen)},
        {"undecodable text, then a number",
         fileWithItems(textItem(kGen, "\xFF") + covr + genreNumberItem(5))},
        {"undecodable text, number first", fileWithItems(genreNumberItem(5) + textItem(kGen, "\xFF") + day)},
        {"text item without data, two numbers",
         fileWithItems(atom(kGen, atom("junk", "x")) + genreNumberItem(0) + genreNumberItem(3))},
        {"two genres and two dates", fileWithItems(textItem(kDay, "87") + gen + textItem(kGen, "Pop") + day)},
        {"no genre, no date", fileWithItems(nam + covr)},
        {"empty item list", fileWithItems({})},
        {"user data without meta, direct meta after", moovWith(atom("udta", atom("free", "")) + directMeta)},
        {"direct meta before user data without meta", moovWith(directMeta + atom("udta", atom("free", "")))},
        {"user data meta without item list hides the direct one",
         moovWith(atom("udta", fullMeta(atom("free", ""))) + directMeta)},
        {"direct meta only", moovWith(track() + directMeta)},
        {"two user data atoms", moovWith(atom("udta", atom("free", "")) + udtaItems(gen) + directMeta)},
        {"two movies", moovWith(udtaItems(gen)) + atom("moov", udtaItems(textItem(kGen, "Second")))},
        {"no movie", ftyp() + atom("mdat", noise(100, 1))},
        {"empty movie", moovWith({})},
        {"meta too short for children", moovWith(atom("udta", atom("meta", "ab")) + directMeta)},
        {"64-bit sizes",
         ftyp() + atom64("moov",
                         atom64("udta",
                                atom64("meta",
                                       u32(0) + atom64("ilst",
                                                       atom64("covr", dataAtom(noise(coverLength, 2), 13)) +
                                                           gen + day))))},
        {"movie size 0", sizeZeroMoov},
        {"cover size 0 runs to the end", coverToEnd},
        {"genre runs past its list", longItem},
        {"movie runs past the end of the file",
         fileWithItems(gen + day).append(u32(0)).replace(ftyp().size(), 4, u32(0x00FFFFFF))},
        {"damage after what is needed", fileWithItems(day + gen + junk + covr)},
        {"damage in the item list", fileWithItems(covr + junk + gen + day), false},
        {"damage before the user data", moovWith(track() + junk + udtaItems(gen)), false},
        {"damage in the user data", moovWith(atom("udta", junk + fullMeta(atom("ilst", gen)))), false},
        {"damage in the meta", moovWith(atom("udta", fullMeta(junk + atom("ilst", gen)))), false},
        {"damage the parser steps over", fileWithItems(covr + realigning + gen + day), false},
    };
}

} // namespace

TEST_F(MP4HandlerWalkTest, FixturesGiveTheResultsOfTheWholeMovieRead) {
    int files = 0;
    int withGenre = 0;
    for (const char* folder : {"mp4", "scan"}) {
        const QDir fixtures(TestFiles::fixturePath(QString::fromLatin1(folder)));
        for (const QString& name : fixtures.entryList(QDir::Files, QDir::Name)) {
            SCOPED_TRACE(name.toStdString());
            bool walked = false;
            const Outcome o = expectSameResults(fixtures.filePath(name), &walked);
            EXPECT_TRUE(walked); // encoder files have no damage to fall back for
            ++files;
            withGenre += o.genre ? 1 : 0;
        }
    }
    EXPECT_GE(files, 30);
    EXPECT_GE(withGenre, 9); // the comparison is not vacuous
}

TEST_F(MP4HandlerWalkTest, SyntheticFilesGiveTheResultsOfTheWholeMovieRead) {
    for (const Synthetic& s : syntheticFiles(100000)) {
        SCOPED_TRACE(s.name);
        bool walked = false;
        expectSameResults(put(s.file), &walked);
        EXPECT_EQ(walked, s.walks);
    }
    // Spot checks that the cases read what they were made for.
    const QList<Synthetic> files = syntheticFiles(100);
    const auto read = [&](int i) {
        return fromPair(handler.readYearAndGenre(put(files[i].file)));
    };
    EXPECT_EQ(read(0), (Outcome{1987, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(3), (Outcome{1987, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(5), (Outcome{std::nullopt, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(6), (Outcome{std::nullopt, QStringLiteral("Disco")}));
    EXPECT_EQ(read(8), (Outcome{std::nullopt, std::nullopt}));
    EXPECT_EQ(read(12), (Outcome{2010, QStringLiteral("Direct")}));
    EXPECT_EQ(read(14), (Outcome{}));
    EXPECT_EQ(read(21), (Outcome{1987, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(23), (Outcome{1987, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(26), (Outcome{1987, QStringLiteral("Deep House")}));
    EXPECT_EQ(read(31), (Outcome{1987, QStringLiteral("Deep House")}));
}

TEST_F(MP4HandlerWalkTest, TruncatedFilesGiveTheResultsOfTheWholeMovieRead) {
    QList<QByteArray> bases;
    for (const Synthetic& s : syntheticFiles(600)) {
        bases << s.file;
    }
    bases << TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/cover.m4a")))
          << TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/tail.m4a")));
    for (const QByteArray& base : bases) {
        const qint64 step = std::max<qint64>(1, base.size() / 60);
        for (qint64 cut = 0; cut < base.size(); cut += step) {
            SCOPED_TRACE(cut);
            const QString path = put(base.left(cut));
            expectSameResults(path);
            QFile::remove(path);
        }
    }
}

TEST_F(MP4HandlerWalkTest, DamagedFilesGiveTheResultsOfTheWholeMovieRead) {
    // Random changes to atom header bytes and anywhere else (a fixed seed, so a failure repeats).
    std::mt19937 random(20240612);
    const QByteArray special = QByteArray::fromHex("0001020708090F10FF");
    QList<QByteArray> bases;
    for (const Synthetic& s : syntheticFiles(300)) {
        bases << s.file;
    }
    bases << TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/cover.m4a")))
          << TestFiles::readFile(TestFiles::fixturePath(QStringLiteral("mp4/faststart.m4a")));
    int walked = 0;
    int fellBack = 0;
    for (const QByteArray& base : bases) {
        // The size fields and types of the atoms on the walked levels are the interesting bytes.
        QList<qint64> hot;
        for (const QByteArray& type : {QByteArray("moov"), QByteArray("udta"), QByteArray("meta"),
                                       QByteArray("ilst"), kGen, kDay, QByteArray("gnre"), QByteArray("covr"),
                                       QByteArray("data"), QByteArray("trak"), QByteArray("hdlr")}) {
            for (qsizetype p = base.indexOf(type); p >= 0; p = base.indexOf(type, p + 1)) {
                for (qint64 q = std::max<qint64>(0, p - 4); q < p + 4; ++q) {
                    hot.append(q);
                }
            }
        }
        if (hot.isEmpty()) {
            hot.append(0);
        }
        for (int round = 0; round < 30; ++round) {
            QByteArray bytes = base;
            const int changes = 1 + int(random() % 3);
            for (int c = 0; c < changes; ++c) {
                const qint64 at =
                    std::min<qint64>(bytes.size() - 1, random() % 4 ? hot.at(random() % hot.size())
                                                                    : qint64(random() % base.size()));
                switch (random() % 6) {
                case 0: // bytes inserted, so that what follows is out of step
                    bytes.insert(at, noise(1 + int(random() % 8), random()));
                    break;
                case 1: // bytes lost
                    bytes.remove(at, 1 + int(random() % 8));
                    break;
                default:
                    bytes[at] = random() % 2 ? special[random() % special.size()] : char(random() & 0xFF);
                }
            }
            SCOPED_TRACE(round);
            const QString path = put(bytes);
            bool told = false;
            expectSameResults(path, &told);
            ++(told ? walked : fellBack);
            QFile::remove(path);
        }
    }
    // Both ways were exercised.
    EXPECT_GT(walked, 100);
    EXPECT_GT(fellBack, 20);
}

TEST_F(MP4HandlerWalkTest, CoverBytesAreNotRead) {
    // A 3 GiB cover (a sparse file) between the date and the genre: reading the
    // whole moov would need 3 GiB of memory; the walk steps over it.
    const qint64 hole = qint64(3) << 30;
    const QByteArray after = textItem(kGen, "Huge") + textItem(kNam, "Title");
    const QByteArray covrHead = u32(1) + "covr" + u32(uint32_t((hole + 16) >> 32)) + u32(uint32_t(hole + 16));
    const QByteArray day = textItem(kDay, "2001");
    const qint64 ilstLength = 16 + day.size() + covrHead.size() + hole + after.size();
    const auto head64 = [](const char* type, qint64 length) {
        return u32(1) + QByteArray(type) + u32(uint32_t(quint64(length) >> 32)) + u32(uint32_t(length));
    };
    const QByteArray head = ftyp() + head64("moov", ilstLength + 16 + 20 + 16) +
                            head64("udta", ilstLength + 20 + 16) + head64("meta", ilstLength + 20) + u32(0) +
                            head64("ilst", ilstLength) + day + covrHead;
    const QString path = dir.filePath(QStringLiteral("huge.m4a"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(head), head.size());
        if (!f.resize(head.size() + hole)) {
            GTEST_SKIP() << "no sparse file support";
        }
        ASSERT_TRUE(f.seek(head.size() + hole));
        ASSERT_EQ(f.write(after), after.size());
    }
    const auto walked = handler.readYearAndGenreByHeaderWalk(path);
    ASSERT_TRUE(walked.has_value());
    EXPECT_EQ(fromPair(*walked), (Outcome{2001, QStringLiteral("Huge")}));
    EXPECT_EQ(fromPair(handler.readYearAndGenre(path)), (Outcome{2001, QStringLiteral("Huge")}));
    EXPECT_EQ(handler.readGenre(path), QStringLiteral("Huge"));
    EXPECT_EQ(handler.readYear(path), 2001);
}
