#include "tagio/ID3v2Handler.h"

#include "Id3Bytes.h"
#include "TestFiles.h"
#include "TestHelpers.h"
#include "model/AppError.h"
#include "tagio/Bytes.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/wavfile.h>

#include <gtest/gtest.h>

#include <functional>

using namespace Id3Bytes;
using Frame = ID3v2Handler::Frame;

namespace {

using IdBody = QPair<QByteArray, QByteArray>;

QByteArray qb(const TagLib::ByteVector& v) {
    return QByteArray(v.data(), qsizetype(v.size()));
}

// Runs `visit` on the ID3v2 tag of a file as TagLib (an independent reader) sees it.
void withTaglibTag(const QString& path, const std::function<void(TagLib::ID3v2::Tag*)>& visit) {
    const QByteArray name = QFile::encodeName(path);
    switch (ID3v2Handler::containerFor(path)) {
    case ID3v2Handler::Container::aiff: {
        TagLib::RIFF::AIFF::File f(name.constData(), false);
        visit(f.hasID3v2Tag() ? f.tag() : nullptr);
        return;
    }
    case ID3v2Handler::Container::wav: {
        TagLib::RIFF::WAV::File f(name.constData(), false);
        visit(f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr);
        return;
    }
    case ID3v2Handler::Container::mp3: {
        TagLib::MPEG::File f(name.constData(), false);
        visit(f.hasID3v2Tag() ? f.ID3v2Tag() : nullptr);
        return;
    }
    }
}

// Each frame's ID and rendered fields (header excluded) as TagLib reads them.
QList<IdBody> taglibFrames(const QString& path) {
    QList<IdBody> out;
    withTaglibTag(path, [&](TagLib::ID3v2::Tag* tag) {
        if (tag == nullptr) {
            return;
        }
        for (const auto* frame : tag->frameList()) {
            // TagLib renders text in a v2.3 tag as UTF-16, so text frames
            // compare by their fields; all others by their rendered body.
            if (const auto* textFrame = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame)) {
                QByteArray fields;
                for (const auto& field : textFrame->fieldList()) {
                    fields += QByteArray(field.toCString(true)) + '\0';
                }
                out.append({qb(frame->frameID()), fields});
            } else {
                out.append({qb(frame->frameID()), qb(frame->render()).mid(10)});
            }
        }
    });
    return out;
}

template <typename T> QList<T> without(const QList<T>& frames, const QSet<QByteArray>& ids) {
    QList<T> out;
    for (const T& f : frames) {
        if constexpr (std::is_same_v<T, Frame>) {
            if (!ids.contains(f.id)) {
                out.append(f);
            }
        } else if (!ids.contains(f.first)) {
            out.append(f);
        }
    }
    return out;
}

QList<QByteArray> ids(const QList<Frame>& frames) {
    QList<QByteArray> out;
    for (const auto& f : frames) {
        out.append(f.id);
    }
    return out;
}

QByteArray tagOf(const QByteArray& file, const QString& path) {
    const auto range = ID3v2Handler::locateTag(file, path);
    return range ? file.mid(range->start, range->length()) : QByteArray();
}

// The audio of a file: for MP3 everything after the ID3v2 tag (and a v2.4
// footer); for AIFF and WAV every chunk except the ID3 chunk, in order.
QList<IdBody> audioOf(const QByteArray& file, const QString& path) {
    if (ID3v2Handler::containerFor(path) == ID3v2Handler::Container::mp3) {
        qint64 start = 0;
        if (const auto tag = ID3v2Handler::parseTagHeader(file)) {
            start = tag->end;
            if (file[3] == 4 && (file[5] & 0x10) && file.mid(start, 3) == "3DI") {
                start += 10;
            }
        }
        return {{"audio", file.mid(start)}};
    }
    const bool little = ID3v2Handler::containerFor(path) == ID3v2Handler::Container::wav;
    QList<IdBody> chunks{{"kind", file.mid(8, 4)}};
    qint64 off = 12;
    while (file.size() - off >= 8) {
        const QByteArray id = file.mid(off, 4);
        const qint64 size =
            little ? qint64(quint32(uchar(file[off + 4]) | uchar(file[off + 5]) << 8 |
                                    uchar(file[off + 6]) << 16 | uint32_t(uchar(file[off + 7])) << 24))
                   : qint64(quint32(uint32_t(uchar(file[off + 4])) << 24 | uchar(file[off + 5]) << 16 |
                                    uchar(file[off + 6]) << 8 | uchar(file[off + 7])));
        if (id.toLower() != "id3 " && id != QByteArray("ID3\0", 4)) {
            chunks.append({id, file.mid(off + 8, size)});
        }
        off += 8 + size + (size & 1);
    }
    return chunks;
}

AppError writeError(const QByteArray& file, const QString& path,
                    const QString& genre = QStringLiteral("Pop")) {
    return expectThrows(
               std::nullopt,
               [&] { ID3v2Handler::writeGenre(genre, std::nullopt, std::nullopt, std::nullopt, file, path); })
        .value_or(AppError::cancelled());
}

const QByteArray apicBody = QByteArray("\0image/png\0\3\0", 13) + QByteArray::fromHex("89504E47FFE0FF00FFFB");

} // namespace

// ---------------------------------------------------------------------------
// Every fixture, written and read back through TagLib and our own reader.

TEST(ID3v2HandlerWrite, RoundTripKeepsAudioAndEveryOtherFrame) {
    const QStringList fixtures = {"v23_ffmpeg.mp3",  "v24_ffmpeg.mp3", "v24_rich.mp3",   "v23_unsync.mp3",
                                  "v23_frames.mp3",  "v23_ext.mp3",    "notag.mp3",      "ffmpeg.aiff",
                                  "odd_chunks.aiff", "nul_id.aiff",    "odd_chunks.wav", "mixed_case.wav",
                                  "notag.wav",       "nopad.wav"};
    // Tags that TagLib itself does not find in the input: the "ID3\0" AIFF
    // chunk, the mixed-case WAV chunk and the tag with a v2.3 extended header.
    const QStringList taglibBlind = {"nul_id.aiff", "mixed_case.wav", "v23_ext.mp3"};
    const QStringList untagged = {"notag.mp3", "notag.wav", "nopad.wav"};
    for (const QString& name : fixtures) {
        for (const std::optional<int> year : {std::optional<int>(1987), std::optional<int>()}) {
            SCOPED_TRACE(name.toStdString() + (year ? " with year" : " without year"));
            QTemporaryDir dir;
            const QString path = TestFiles::copyFixture("id3/" + name, dir);
            const QByteArray before = TestFiles::readFile(path);
            const auto yearBefore = ID3v2Handler::readYear(path);
            const auto taglibBefore = taglibFrames(path);

            const QByteArray after =
                ID3v2Handler::writeGenre("House 80er", year, std::nullopt, std::nullopt, before, path);
            TestFiles::writeFile(path, after);

            EXPECT_EQ(audioOf(after, path), audioOf(before, path));
            EXPECT_EQ(ID3v2Handler::readGenre(path), QStringLiteral("House 80er"));
            EXPECT_EQ(ID3v2Handler::readYear(path), year ? year : yearBefore);

            const QByteArray newTag = tagOf(after, path);
            ASSERT_GE(newTag.size(), 10);
            EXPECT_EQ(newTag.left(6), QByteArray("ID3\3\0\0", 6));
            EXPECT_EQ(newTag.right(ID3v2Handler::paddingSize), QByteArray(ID3v2Handler::paddingSize, '\0'));

            // A kept ID3v2.4 TDRC becomes TYER and TDAT, which TagLib reads as TDRC again.
            QSet<QByteArray> dropped{"TCON", "TDAT"};
            if (year) {
                dropped << "TYER"
                        << "TDRC";
            }
            // TagLib: the frames it reads before, less the ones we replace,
            // come back with identical content and order.
            const auto taglibAfter = taglibFrames(path);
            EXPECT_EQ(taglibBefore.isEmpty(), taglibBlind.contains(name) || untagged.contains(name));
            if (!taglibBlind.contains(name)) {
                EXPECT_EQ(without(taglibAfter, dropped), without(taglibBefore, dropped));
            }
            ASSERT_FALSE(taglibAfter.isEmpty());
            withTaglibTag(path, [](TagLib::ID3v2::Tag* tag) {
                ASSERT_NE(tag, nullptr);
                EXPECT_EQ(tag->genre(), TagLib::String("House 80er", TagLib::String::UTF8));
            });

            // Our reader, frame by frame in v2.3 form.
            const auto oursBefore = ID3v2Handler::listFrames(tagOf(before, path));
            const auto oursAfter = ID3v2Handler::listFrames(newTag);
            EXPECT_EQ(without(oursAfter, dropped + QSet<QByteArray>{"TDRC", "TYER"}),
                      without(oursBefore, dropped + QSet<QByteArray>{"TDRC", "TYER"}));
            const QList<QByteArray> newIds =
                year ? QList<QByteArray>{"TCON", "TYER"} : QList<QByteArray>{"TCON"};
            EXPECT_EQ(ids(oursAfter).mid(oursAfter.size() - newIds.size()), newIds);
        }
    }
}

// ---------------------------------------------------------------------------
// Layout of the new tag.

TEST(ID3v2HandlerWrite, FrameOrderAndDroppedFrames) {
    const QByteArray old = tag(3, frame("TIT2", text(0, "T")) + frame("TCON", text(0, "House")) +
                                      frame("TXXX", text(0, "k\0v")) + frame("TYER", text(0, "1990")) +
                                      frame("APIC", apicBody) + QByteArray(30, '\0'));
    const QByteArray file = old + audio(100);

    QByteArray out =
        ID3v2Handler::writeGenre("House 80er", 1987, std::nullopt, std::nullopt, file, "/m/a.mp3");
    QByteArray newTag = tagOf(out, "/m/a.mp3");
    auto frames = ID3v2Handler::listFrames(newTag);
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TIT2", "TXXX", "APIC", "TCON", "TYER"}));
    EXPECT_EQ(frames[3].body, QByteArray("\3House 80er"));
    EXPECT_EQ(frames[4].body, QByteArray("\3"
                                         "1987"));
    EXPECT_EQ(frames[2].body, apicBody);
    EXPECT_EQ(out.mid(newTag.size()), audio(100));
    // Header size field: frames plus 512 bytes of padding.
    EXPECT_EQ(newTag.mid(6, 4), ID3v2Handler::syncsafeEncode(uint32_t(newTag.size() - 10)));

    out = ID3v2Handler::writeGenre("House 80er", std::nullopt, std::nullopt, std::nullopt, file, "/m/a.mp3");
    frames = ID3v2Handler::listFrames(tagOf(out, "/m/a.mp3"));
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TIT2", "TXXX", "TYER", "APIC", "TCON"}));
    EXPECT_EQ(frames[2].body, QByteArray("\0"
                                         "1990",
                                         5));

    // Title and artist given, even empty: the old ones are replaced.
    out = ID3v2Handler::writeGenre("X", std::nullopt, QString(), QStringLiteral("Ärtist"), file, "/m/a.mp3");
    frames = ID3v2Handler::listFrames(tagOf(out, "/m/a.mp3"));
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TXXX", "TYER", "APIC", "TCON", "TIT2", "TPE1"}));
    EXPECT_EQ(frames[4].body, QByteArray("\3"));
    EXPECT_EQ(frames[5].body, QByteArray("\3\xC3\x84rtist"));
}

// ---------------------------------------------------------------------------
// MP3 without an ID3v2 tag.

TEST(ID3v2HandlerWrite, ID3v1SeedsANewTagAndStays) {
    const QByteArray file = TestFiles::readFile(TestFiles::fixturePath("id3/v1_only.mp3"));
    const QString path = "/music/v1.mp3";
    QByteArray out = ID3v2Handler::writeGenre("Pop", std::nullopt, std::nullopt, std::nullopt, file, path);
    QByteArray newTag = tagOf(out, path);
    EXPECT_EQ(out.mid(newTag.size()), file); // ID3v1 kept at the end
    auto frames = ID3v2Handler::listFrames(newTag);
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TIT2", "TPE1", "TYER", "TCON"}));
    EXPECT_EQ(frames[0].body, QByteArray("\3Song"));
    EXPECT_EQ(frames[1].body, QByteArray("\3"
                                         "Band"));
    EXPECT_EQ(frames[2].body, QByteArray("\3"
                                         "1999"));

    out = ID3v2Handler::writeGenre("Pop", 2001, std::nullopt, std::nullopt, file, path);
    frames = ID3v2Handler::listFrames(tagOf(out, path));
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TIT2", "TPE1", "TCON", "TYER"}));
    EXPECT_EQ(frames[3].body, QByteArray("\3"
                                         "2001"));

    out = ID3v2Handler::writeGenre("Pop", std::nullopt, QStringLiteral("Given"), std::nullopt, file, path);
    frames = ID3v2Handler::listFrames(tagOf(out, path));
    EXPECT_EQ(ids(frames), (QList<QByteArray>{"TPE1", "TYER", "TCON", "TIT2"}));
    EXPECT_EQ(frames[3].body, QByteArray("\3Given"));

    EXPECT_EQ(ID3v2Handler::readID3v1Field(QByteArray(" \tSong\0\0 ", 9)), QStringLiteral("Song"));
}

// ---------------------------------------------------------------------------
// AIFF and WAV placement.

// ---------------------------------------------------------------------------
// Files that cannot be written without damage are refused and left alone.

TEST(ID3v2HandlerWrite, RefusesBrokenContainers) {
    const QByteArray tagBytes = tag(3, frame("TCON", text(0, "Old")));
    const QByteArray good = wav({{"fmt ", wavFmt()}, {"data", audio(20)}});

    EXPECT_EQ(writeError(QByteArray("FORM\0\0\0\3AIF", 11), "/m/s.aiff").text(), "Invalid AIFF file");
    EXPECT_EQ(writeError(QByteArray("RIFF"), "/m/s.wav").text(), "Invalid WAV file");

    QByteArray rf64 = good;
    rf64.replace(0, 4, "RF64");
    rf64.replace(4, 4, QByteArray(4, char(0xFF)));
    EXPECT_EQ(writeError(rf64, "/m/rf.wav").text(), "Invalid WAV file");
    // An AIFF with an ID3v2 tag in front, and a FORM of another kind.
    const QByteArray form = aiff({{"COMM", aiffComm(20)}, {"SSND", audio(28)}});
    EXPECT_EQ(writeError(tagBytes + form, "/m/t.aiff").text(), "Invalid AIFF file");
    EXPECT_EQ(writeError(container("FORM", "8SVX", {{"BODY", audio(20)}}, false), "/m/x.aif").text(),
              "Invalid AIFF file");
    EXPECT_EQ(writeError(good, "/m/wav-as.aiff").text(), "Invalid AIFF file");
    EXPECT_NO_THROW(
        ID3v2Handler::writeGenre("P", {}, {}, {}, container("FORM", "AIFC", {}, false), "/m/c.aifc.aif"));

    // A streaming WAV whose data chunk claims more than the file holds.
    QByteArray streaming = good;
    streaming.replace(40, 4, le32(0xFFFFFFFFu));
    ASSERT_EQ(streaming.mid(36, 4), "data");
    EXPECT_EQ(writeError(streaming, "/m/st.wav").text(), "Invalid WAV file");
    // Stray bytes after the last chunk.
    EXPECT_EQ(writeError(good + "xyz", "/m/j.wav").text(), "Invalid WAV file");
    // An ID3 chunk whose body is not an ID3v2 tag.
    const QByteArray notTag = wav({{"fmt ", wavFmt()}, {"id3 ", QByteArray(20, 'z')}});
    EXPECT_EQ(writeError(notTag, "/m/nt.wav").kind(), AppError::Kind::tagWriteFailed);
}

TEST(ID3v2HandlerWrite, RefusesOtherContainersNamedMp3) {
    const QList<QByteArray> heads = {"fLaC\0\0\0\x22",
                                     "RIFF\0\0\0\0WAVE",
                                     "FORM\0\0\0\0AIFF",
                                     "OggS\0\2\0\0",
                                     QByteArray("\0\0\0\x20"
                                                "ftypM4A ",
                                                12),
                                     QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C")};
    for (const QByteArray& head : heads) {
        SCOPED_TRACE(head.toHex().toStdString());
        const QByteArray file = head + audio(200);
        const AppError e = writeError(file, "/m/fake.mp3");
        EXPECT_EQ(e.kind(), AppError::Kind::tagWriteFailed);
        EXPECT_TRUE(e.text().startsWith("Not an MP3 file"));
        // Also behind an ID3v2 tag.
        EXPECT_EQ(writeError(tag(3, frame("TCON", text(0, "A"))) + file, "/m/fake.mp3").kind(),
                  AppError::Kind::tagWriteFailed);
    }
}

TEST(ID3v2HandlerWrite, RefusesDamagedOrUnconvertibleTags) {
    const QByteArray tcon = frame("TCON", text(0, "Old"));
    const auto fails = [](const QByteArray& tagBytes, const QString& needle) {
        const AppError e = writeError(tagBytes + audio(64), "/m/d.mp3");
        EXPECT_EQ(e.kind(), AppError::Kind::tagWriteFailed);
        EXPECT_TRUE(e.text().contains(needle)) << e.text().toStdString();
    };
    // A frame that runs past the end of the tag.
    QByteArray over = frame("TXXX", text(0, "abc")) + tcon;
    over[7] = char(0x60);
    fails(tag(3, over), "runs past the end");
    // An invalid frame ID followed by more data.
    fails(tag(3, frame("TXxX", text(0, "abc")) + frame("APIC", apicBody)), "invalid frame ID");
    // An extended header that runs past the tag.
    fails(tag(3, be32(500) + tcon, 0x40), "extended header");
    // ID3v2.2 and unknown versions.
    const QByteArray v22 = TestFiles::readFile(TestFiles::fixturePath("id3/v22.mp3"));
    EXPECT_EQ(writeError(v22, "/m/v22.mp3").text(), "ID3v2.2 tag not supported");
    fails(tag(5, tcon), "ID3v2.5");
    // Compressed and encrypted v2.4 frames cannot be carried over ...
    fails(tag(4, frame("APIC", syncsafe(10) + QByteArray(12, 'z'), true, 0, 0x09)), "compressed");
    fails(tag(4, frame("PRIV", QByteArray(12, 'z'), true, 0, 0x04)), "encrypted");
    // ... unless they are replaced anyway.
    EXPECT_NO_THROW(ID3v2Handler::writeGenre(
        "P", {}, {}, {}, tag(4, frame("TCON", "\x78\x9C", true, 0, 0x08)) + audio(10), "/m/ok.mp3"));

    // An invalid frame ID followed only by zeros is stray padding: the frames
    // before it are kept.
    const QByteArray stray =
        tag(3, frame("TXXX", text(0, "k\0v")) + QByteArray("\xFFX\0\0", 4) + QByteArray(40, '\0'));
    const QByteArray out = ID3v2Handler::writeGenre("P", {}, {}, {}, stray + audio(10), "/m/s.mp3");
    EXPECT_EQ(ids(ID3v2Handler::listFrames(tagOf(out, "/m/s.mp3"))), (QList<QByteArray>{"TXXX", "TCON"}));
}
