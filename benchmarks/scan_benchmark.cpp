// Times the reading pipeline (the folder scan plus FileScannerService::readFile
// for every file) beside a plain TagLib FileRef read (tags and duration) of the
// same files, per format, and shows the cost of the two parts of our read
// alone: the media layer (MediaAsset: our own parsers for MP3, AIFF, WAV,
// MP4/M4A, raw AAC and FLAC, TagLib reading through our open file for the
// rest) and our own tag handlers' year and genre reads. For MP3 and M4A files
// the pipeline takes both from one walk, so the two parts add up to more than
// the whole.
//
// Two folders can be generated into a temporary directory:
//
//   scan_benchmark [count] [fixture folder]
//       `count` (default 2000) copies of the small fixtures of every format
//       (tests/fixtures/scan by default): the per-file overhead of a scan.
//
//   scan_benchmark --real [count] [megabytes]
//       `count` MP3, `count` M4A and `count` FLAC files (default 100 each) of
//       about `megabytes` MB (default 4), built from the scan fixtures: the
//       audio is repeated up to the size, and every second file gets a 700 KB
//       cover picture (APIC frame, "covr" item or PICTURE block, which TagLib
//       puts between the comment and the padding), which is what makes tags
//       large in a real library. MP3 tags alternate between ID3v2.3 and ID3v2.4.
//
//   scan_benchmark --compare [count]
//       `count` files (default 1200) of MP3 (ID3v2.3 and 2.4, some with ID3v1),
//       M4A, FLAC, WAV (with RIFF INFO) and AIFF, made from the scan fixtures
//       and given varied tags by TagLib: texts in several scripts, years,
//       genres as names, numbers and references, comments, user texts, URLs,
//       multiple values, track numbers, flags, free-form items and small
//       pictures. Every file is read by our media layer and by TagLib alone;
//       the items must match in order and value and the durations within 1%
//       or 50 ms. Prints the differences and exits with 1 when there are any.
//
// Build and run it in a Release build, on a quiet machine:
//
//   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target scan_benchmark
//   build/rel/scan_benchmark
//   build/rel/scan_benchmark --real
//
// Every figure is the best of SCAN_BENCHMARK_RUNS runs (default 5) after one
// warm-up pass, so the files are read from the page cache. Results go to
// standard error; standard output (the console lines of the tag handlers) is
// sent to /dev/null while the runs are timed. The benchmark is not part of the
// test suite.

#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "services/FileScannerService.h"
#include "tagio/ByteSource.h"
#include "tagio/flac/FLACHandler.h"
#include "tagio/id3/ID3v2Handler.h"
#include "tagio/mp4/MP4Handler.h"
#include "tagio/MediaAsset.h"
#include "tagio/UniversalTagReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/urllinkframe.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <type_traits>
#include <unistd.h>

namespace {

constexpr qint64 pictureSize = 700 * 1024;

double bestSeconds(int runs, const std::function<void()>& body) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        body();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

[[noreturn]] void fail(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::exit(1);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read ") + path);
    }
    return f.readAll();
}

// Bytes that look like a JPEG picture: the markers around random data.
QByteArray pictureBytes() {
    std::mt19937 random(1987);
    QByteArray out(pictureSize, '\0');
    for (qsizetype i = 0; i < out.size(); ++i) {
        out[i] = char(random() & 0xFF);
    }
    out[0] = char(0xFF);
    out[1] = char(0xD8);
    out[2] = char(0xFF);
    out[3] = char(0xE0);
    out[out.size() - 2] = char(0xFF);
    out[out.size() - 1] = char(0xD9);
    return out;
}

// `unit` repeated until the result holds at least `size` bytes.
QByteArray repeated(const QByteArray& unit, qint64 size) {
    QByteArray out;
    out.reserve(size + unit.size());
    while (out.size() < size) {
        out += unit;
    }
    return out;
}

// An MP3 file of about `size` bytes: the fixture's tag, its audio frames
// repeated, saved by TagLib as ID3v2.`version`, with a cover picture when asked.
void makeMp3(const QString& fixture, const QString& target, qint64 size, int version, bool picture) {
    const QByteArray file = readBytes(fixture);
    const auto tag = ID3v2Handler::parseTagHeader(file);
    if (!tag) {
        fail(QStringLiteral("no ID3v2 tag in ") + fixture);
    }
    qint64 audioEnd = file.size();
    if (file.size() - tag->end >= 128 && file.mid(file.size() - 128, 3) == QByteArrayLiteral("TAG")) {
        audioEnd -= 128;
    }
    const QByteArray audio = file.mid(tag->end, audioEnd - tag->end);
    if (!writeBytes(target, file.left(tag->end) + repeated(audio, size))) {
        fail(QStringLiteral("cannot write ") + target);
    }
    TagLib::MPEG::File mpeg(QFile::encodeName(target).constData(), false);
    if (picture) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType("image/jpeg");
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        const QByteArray data = pictureBytes();
        frame->setPicture(TagLib::ByteVector(data.constData(), uint(data.size())));
        mpeg.ID3v2Tag(true)->addFrame(frame);
    }
    if (!mpeg.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                   version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3)) {
        fail(QStringLiteral("TagLib cannot save ") + target);
    }
}

// An M4A file of about `size` bytes: the fixture with its media data atom
// grown at the end (no sample moves, so the chunk offsets stay right) and,
// when asked, a cover picture added by TagLib.
void makeM4a(const QString& fixture, const QString& target, qint64 size, bool picture) {
    QByteArray file = readBytes(fixture);
    const QList<MP4Handler::Atom> top = MP4Handler::parseAtoms(file, 0, file.size());
    const MP4Handler::Atom* mdat = nullptr;
    for (const auto& atom : top) {
        if (atom.type == QLatin1String("mdat")) {
            mdat = &atom;
        }
    }
    if (!mdat || mdat->headerLength != 8 || mdat->sizeToEnd || mdat->clamped) {
        fail(QStringLiteral("no plain mdat atom in ") + fixture);
    }
    const QByteArray filler =
        repeated(file.mid(mdat->payloadStart(), mdat->end - mdat->payloadStart()), size - file.size());
    const qint64 newLength = mdat->length() + filler.size();
    if (newLength > 0xFFFFFFFFLL) {
        fail(QStringLiteral("file size too large"));
    }
    file.insert(mdat->end, filler);
    const uint32_t n = uint32_t(newLength);
    const qint64 at = mdat->start;
    file[at] = char(n >> 24);
    file[at + 1] = char(n >> 16);
    file[at + 2] = char(n >> 8);
    file[at + 3] = char(n);
    if (!writeBytes(target, file)) {
        fail(QStringLiteral("cannot write ") + target);
    }
    if (picture) {
        TagLib::MP4::File mp4(QFile::encodeName(target).constData(), false);
        const QByteArray data = pictureBytes();
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::JPEG,
                                            TagLib::ByteVector(data.constData(), uint(data.size()))));
        mp4.tag()->setItem("covr", TagLib::MP4::Item(covers));
        if (!mp4.save()) {
            fail(QStringLiteral("TagLib cannot save ") + target);
        }
    }
}

// A FLAC file of about `size` bytes: the fixture's metadata, its audio
// frames repeated and, when asked, a cover picture added by TagLib.
void makeFlac(const QString& fixture, const QString& target, qint64 size, bool picture) {
    const QByteArray file = readBytes(fixture);
    const QList<FLACHandler::MetadataBlock> blocks = FLACHandler::parseMetadataBlocks(file, fixture);
    if (blocks.isEmpty() || !blocks.last().isLast) {
        fail(QStringLiteral("no FLAC metadata in ") + fixture);
    }
    const qint64 audioStart = blocks.last().headerOffset + 4 + blocks.last().length;
    if (!writeBytes(target, file.left(audioStart) + repeated(file.mid(audioStart), size))) {
        fail(QStringLiteral("cannot write ") + target);
    }
    if (picture) {
        TagLib::FLAC::File flac(QFile::encodeName(target).constData(), false);
        auto* cover = new TagLib::FLAC::Picture;
        cover->setMimeType("image/jpeg");
        cover->setType(TagLib::FLAC::Picture::FrontCover);
        const QByteArray data = pictureBytes();
        cover->setData(TagLib::ByteVector(data.constData(), uint(data.size())));
        flac.addPicture(cover);
        if (!flac.save()) {
            fail(QStringLiteral("TagLib cannot save ") + target);
        }
    }
}

// `count` copies of each source, spread over artist/album folders.
void fillFolder(const QString& root, const QStringList& sources, int count) {
    for (int i = 0; i < count; ++i) {
        const QString source = sources.at(i % sources.size());
        const QString folder = QDir(root).filePath(QStringLiteral("artist%1/album%2").arg(i % 17).arg(i % 5));
        QDir().mkpath(folder);
        const QString target = QDir(folder).filePath(
            QStringLiteral("%1 %2").arg(i, 5, 10, QLatin1Char('0')).arg(QFileInfo(source).fileName()));
        if (!QFile::copy(source, target)) {
            fail(QStringLiteral("cannot copy ") + target);
        }
    }
}

// The small fixtures of a folder that read as audio.
QStringList readableFixtures(const QString& fixtures) {
    QStringList sources;
    for (const QString& name : QDir(fixtures).entryList(QDir::Files, QDir::Name)) {
        if (!supportedExtensions().contains(QFileInfo(name).suffix().toLower())) {
            continue;
        }
        const QString path = QDir(fixtures).filePath(name);
        try {
            UniversalTagReader().readTags(path);
            sources.append(path);
        } catch (const AppError&) {
        }
    }
    return sources;
}

// --- the generated set of the comparison --------------------------------------

TagLib::String tl(const QString& text) {
    return TagLib::String(text.toStdWString());
}

// Varied tag texts, years and genres, picked by a seeded generator.
struct TagPicker {
    std::mt19937 random{1987};

    QString pick(const QStringList& list) { return list.at(int(random() % list.size())); }
    bool chance(int percent) { return int(random() % 100) < percent; }
    QString text() {
        static const QStringList words = {"Night", "Süße", "Été", "Łódź",  "東京",       "Москва", "Ἀθῆναι",
                                          "Dub",   "Mix",  "01",  "A - B", "  padded  ", "x/y",    "ümlaut"};
        QStringList parts;
        for (int n = 1 + int(random() % 4); n > 0; --n) {
            parts.append(pick(words));
        }
        return parts.join(QLatin1Char(' '));
    }
    int year() { return chance(15) ? 0 : 1950 + int(random() % 75); }
    QString genre() {
        static const QStringList genres = {"House",    "Deep House",  "(17)",  "17",          "(13)Pop",
                                           "(17)Rock", "Techno 90er", "(999)", "Drum & Bass", "Rock (live)"};
        return pick(genres);
    }
};

QByteArray smallPicture() {
    return pictureBytes().left(2048);
}

void setCommon(TagLib::Tag* tag, TagPicker& p) {
    tag->setTitle(tl(p.text()));
    tag->setArtist(tl(p.chance(10) ? QStringLiteral("0815") : p.text()));
    tag->setAlbum(tl(p.chance(10) ? QString() : p.text()));
    tag->setYear(unsigned(p.year()));
    tag->setGenre(tl(p.genre()));
    tag->setTrack(unsigned(p.random() % 20));
    if (p.chance(50)) {
        tag->setComment(tl(p.text()));
    }
}

void tagMp3(const QString& path, TagPicker& p, int version) {
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    setCommon(tag, p);
    auto* user = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
    user->setDescription("MOOD");
    user->setText(tl(p.text()));
    tag->addFrame(user);
    if (p.chance(50)) {
        auto* url = new TagLib::ID3v2::UrlLinkFrame("WOAR");
        url->setUrl("https://example.org/artist");
        tag->addFrame(url);
    }
    if (p.chance(30)) {
        auto* band = new TagLib::ID3v2::TextIdentificationFrame("TPE2", TagLib::String::UTF16);
        band->setText(TagLib::StringList(tl(p.text())).append(tl(p.text())));
        tag->addFrame(band);
    }
    if (p.chance(30)) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType("image/jpeg");
        const QByteArray data = smallPicture();
        frame->setPicture(TagLib::ByteVector(data.constData(), uint(data.size())));
        tag->addFrame(frame);
    }
    int tags = TagLib::MPEG::File::ID3v2;
    if (p.chance(30)) {
        setCommon(file.ID3v1Tag(true), p);
        tags |= TagLib::MPEG::File::ID3v1;
    }
    if (!file.save(tags, TagLib::File::StripOthers, version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3)) {
        fail(QStringLiteral("TagLib cannot save ") + path);
    }
}

void tagM4a(const QString& path, TagPicker& p) {
    TagLib::MP4::File file(QFile::encodeName(path).constData(), false);
    TagLib::MP4::Tag* tag = file.tag();
    setCommon(tag, p);
    tag->setItem("cpil", TagLib::MP4::Item(p.chance(50)));
    tag->setItem("tmpo", TagLib::MP4::Item(int(60 + p.random() % 120)));
    tag->setItem("trkn", TagLib::MP4::Item(int(p.random() % 20), 20));
    tag->setItem("----:com.apple.iTunes:MOOD", TagLib::MP4::Item(TagLib::StringList(tl(p.text()))));
    if (p.chance(30)) {
        tag->setItem("aART", TagLib::MP4::Item(TagLib::StringList(tl(p.text())).append(tl(p.text()))));
    }
    if (p.chance(30)) {
        const QByteArray data = smallPicture();
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::PNG,
                                            TagLib::ByteVector(data.constData(), uint(data.size()))));
        tag->setItem("covr", TagLib::MP4::Item(covers));
    }
    if (!file.save()) {
        fail(QStringLiteral("TagLib cannot save ") + path);
    }
}

void tagFlac(const QString& path, TagPicker& p) {
    TagLib::FLAC::File file(QFile::encodeName(path).constData(), false);
    TagLib::Ogg::XiphComment* tag = file.xiphComment(true);
    setCommon(tag, p);
    tag->addField("GENRE", tl(p.genre()), false);
    tag->addField("MOOD", tl(p.text()), true);
    if (p.chance(30)) {
        tag->addField("YEAR", tl(QString::number(p.year())), true);
    }
    if (!file.save()) {
        fail(QStringLiteral("TagLib cannot save ") + path);
    }
}

template <typename File> void tagRiff(const QString& path, TagPicker& p) {
    File file(QFile::encodeName(path).constData(), false);
    setCommon(file.tag(), p);
    if constexpr (std::is_same_v<File, TagLib::RIFF::WAV::File>) {
        if (p.chance(50)) {
            setCommon(file.InfoTag(), p);
        }
    }
    if (!file.save()) {
        fail(QStringLiteral("TagLib cannot save ") + path);
    }
}

QStringList makeComparisonSet(const QString& root, const QString& fixtures, int count) {
    TagPicker picker;
    QStringList files;
    const QStringList kinds = {"v23.mp3", "v24.mp3", "m4a", "flac", "wav", "aiff"};
    for (int i = 0; i < count; ++i) {
        const QString kind = kinds.at(i % kinds.size());
        const QString ext = QFileInfo(kind).suffix().isEmpty() ? kind : QFileInfo(kind).suffix();
        const QString target =
            QDir(root).filePath(QStringLiteral("%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(ext));
        if (!QFile::copy(QDir(fixtures).filePath(QStringLiteral("tagged.") + ext), target)) {
            fail(QStringLiteral("cannot copy ") + target);
        }
        QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        if (ext == QLatin1String("mp3")) {
            tagMp3(target, picker, kind.startsWith(QLatin1String("v24")) ? 4 : 3);
        } else if (ext == QLatin1String("m4a")) {
            tagM4a(target, picker);
        } else if (ext == QLatin1String("flac")) {
            tagFlac(target, picker);
        } else if (ext == QLatin1String("wav")) {
            tagRiff<TagLib::RIFF::WAV::File>(target, picker);
        } else {
            tagRiff<TagLib::RIFF::AIFF::File>(target, picker);
        }
        files.append(target);
    }
    return files;
}

QString describeItems(const MediaAsset& asset) {
    QStringList out;
    for (const MediaAsset::Item& item : asset.metadata()) {
        out.append(
            QStringLiteral("%1|%2|%3|%4|%5")
                .arg(item.commonKey.value_or(QStringLiteral("-")), item.keySpace.value_or(QString()),
                     item.key.value_or(QString()), item.stringValue.value_or(QStringLiteral("<none>")),
                     item.numberValue ? QString::number(*item.numberValue) : QStringLiteral("<none>")));
    }
    return out.join(QLatin1Char('\n'));
}

// Our media layer against TagLib alone on every file; the number of files that differ.
int compareLayers(const QStringList& files, qint64& items) {
    int differing = 0;
    for (const QString& file : files) {
        QString ours;
        QString taglib;
        double oursSeconds = 0;
        double taglibSeconds = 0;
        try {
            const MediaAsset asset = MediaAsset::load(file);
            ours = describeItems(asset);
            oursSeconds = asset.duration();
            items += asset.metadata().size();
        } catch (const AppError& e) {
            ours = QStringLiteral("error: ") + e.errorDescription();
        }
        try {
            const MediaAsset asset = MediaAsset::loadWithTagLib(file);
            taglib = describeItems(asset);
            taglibSeconds = asset.duration();
        } catch (const AppError& e) {
            taglib = QStringLiteral("error: ") + e.errorDescription();
        }
        const bool durationOk = std::abs(oursSeconds - taglibSeconds) <= std::max(0.05, 0.01 * taglibSeconds);
        if (ours != taglib || !durationOk) {
            if (++differing <= 10) {
                std::fprintf(stderr, "DIFFERS %s (duration %.3f vs %.3f)\n--- ours\n%s\n--- TagLib\n%s\n",
                             qPrintable(file), oursSeconds, taglibSeconds, qPrintable(ours),
                             qPrintable(taglib));
            }
        }
    }
    return differing;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool real = args.removeAll(QStringLiteral("--real")) > 0;
    const bool compare = args.removeAll(QStringLiteral("--compare")) > 0;
    const QString scanFixtures = QStringLiteral(VELMORA_FIXTURES_DIR) + QStringLiteral("/scan");
    if (compare) {
        QTemporaryDir dir;
        const int count = args.size() > 0 ? std::max(1, args.at(0).toInt()) : 1200;
        const QStringList files = makeComparisonSet(dir.path(), scanFixtures, count);
        qint64 items = 0;
        const int differing = compareLayers(files, items);
        std::fprintf(stderr, "compared %lld generated files (%lld items): %d differ\n",
                     static_cast<long long>(files.size()), static_cast<long long>(items), differing);
        return differing == 0 ? 0 : 1;
    }

    // Keep the console lines of the reads out of the output.
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout)) {
        return 1;
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        fail(QStringLiteral("no temporary folder"));
    }
    QElapsedTimer setup;
    setup.start();
    if (real) {
        const int count = args.size() > 0 ? std::max(1, args.at(0).toInt()) : 100;
        const double megabytes = args.size() > 1 ? std::max(0.01, args.at(1).toDouble()) : 4.0;
        const qint64 size = qint64(megabytes * 1024 * 1024);
        const QString templates = dir.filePath(QStringLiteral("templates"));
        const QString library = dir.filePath(QStringLiteral("library"));
        QDir().mkpath(templates);
        QStringList sources;
        for (int version : {3, 4}) {
            for (bool picture : {false, true}) {
                const QString name = QStringLiteral("v2%1%2.mp3").arg(version).arg(picture ? "_cover" : "");
                makeMp3(scanFixtures + QStringLiteral("/tagged.mp3"), QDir(templates).filePath(name), size,
                        version, picture);
                sources.append(QDir(templates).filePath(name));
            }
        }
        for (bool picture : {false, true}) {
            const QString name = picture ? QStringLiteral("cover.m4a") : QStringLiteral("plain.m4a");
            makeM4a(scanFixtures + QStringLiteral("/tagged.m4a"), QDir(templates).filePath(name), size,
                    picture);
            sources.append(QDir(templates).filePath(name));
        }
        for (bool picture : {false, true}) {
            const QString name = picture ? QStringLiteral("cover.flac") : QStringLiteral("plain.flac");
            makeFlac(scanFixtures + QStringLiteral("/tagged.flac"), QDir(templates).filePath(name), size,
                     picture);
            sources.append(QDir(templates).filePath(name));
        }
        // MP3, M4A and FLAC sources alternate, so every format gets `count` files.
        QStringList interleaved;
        for (int i = 0; i < 4; ++i) {
            interleaved << sources.at(i) << sources.at(4 + i % 2) << sources.at(6 + i % 2);
        }
        fillFolder(library, interleaved, 3 * count);
        QDir(templates).removeRecursively();
    } else {
        const int count = args.size() > 0 ? std::max(1, args.at(0).toInt()) : 2000;
        const QString fixtures = args.size() > 1 ? args.at(1) : scanFixtures;
        const QStringList sources = readableFixtures(fixtures);
        if (sources.isEmpty()) {
            fail(QStringLiteral("no readable fixtures in ") + fixtures);
        }
        fillFolder(dir.filePath(QStringLiteral("library")), sources, count);
    }
    const double setupSeconds = setup.nsecsElapsed() / 1e9;

    const QString library = dir.filePath(QStringLiteral("library"));
    const FileScannerService service;
    const UniversalTagReader reader;
    const QStringList files = service.scanDirectory(library);
    QMap<QString, QStringList> byFormat;
    qint64 bytes = 0;
    for (const QString& file : files) {
        byFormat[QFileInfo(file).suffix().toLower()].append(file);
        bytes += QFileInfo(file).size();
    }

    double checksum = 0;
    int rows = 0;
    auto readPipeline = [&](const QStringList& list) {
        for (const QString& file : list) {
            if (const auto row = service.readFile(file, reader)) {
                ++rows;
                checksum += row->duration;
            }
        }
    };
    auto readTagLib = [&](const QStringList& list) {
        for (const QString& file : list) {
            const QByteArray name = QFile::encodeName(file);
            TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Fast);
            if (ref.isNull()) {
                continue;
            }
            const TagLib::Tag* tag = ref.tag();
            checksum += tag->title().size() + tag->artist().size() + tag->album().size() + tag->year() +
                        tag->genre().size();
            if (ref.audioProperties()) {
                checksum += ref.audioProperties()->lengthInMilliseconds();
            }
        }
    };
    // The two parts of UniversalTagReader::readTags (FLAC files are read by FLACHandler alone).
    auto readMediaAsset = [&](const QStringList& list) {
        for (const QString& file : list) {
            try {
                checksum += MediaAsset::load(file).duration();
            } catch (const AppError&) {
            }
        }
    };
    auto readHandlers = [&](const QStringList& list) {
        for (const QString& file : list) {
            try {
                if (audioFormatForPath(file) == AudioFormat::flac) {
                    checksum += FLACHandler::readTags(file).genre.size();
                } else if (const auto source = ByteSource::open(file)) {
                    const auto direct = reader.readDirect(*source);
                    checksum += direct.year.value_or(0) + direct.genre.size();
                }
            } catch (const AppError&) {
            }
        }
    };
    auto scanAndRead = [&] {
        rows = 0;
        readPipeline(service.scanDirectory(library));
    };

    scanAndRead(); // warm the page cache
    readTagLib(files);
    const int runs = qEnvironmentVariableIsSet("SCAN_BENCHMARK_RUNS")
                         ? std::max(1, qEnvironmentVariableIntValue("SCAN_BENCHMARK_RUNS"))
                         : 5;

    struct Line {
        QString format;
        qsizetype files = 0;
        double taglib = 0, pipeline = 0, media = 0, handlers = 0;
    };
    QList<Line> lines;
    for (auto it = byFormat.cbegin(); it != byFormat.cend(); ++it) {
        const QStringList& list = it.value();
        Line line;
        line.format = it.key();
        line.files = list.size();
        line.taglib = bestSeconds(runs, [&] { readTagLib(list); });
        line.pipeline = bestSeconds(runs, [&] { readPipeline(list); });
        line.media = bestSeconds(runs, [&] { readMediaAsset(list); });
        line.handlers = bestSeconds(runs, [&] { readHandlers(list); });
        lines.append(line);
    }
    const double totalTagLib = bestSeconds(runs, [&] { readTagLib(files); });
    const double totalPipeline = bestSeconds(runs, scanAndRead);

    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);

    std::fprintf(stderr, "%s: %lld files (%d rows), %.1f MB, set up in %.1f s; best of %d runs\n",
                 real ? "real-size files" : "fixture copies", static_cast<long long>(files.size()), rows,
                 bytes / 1048576.0, setupSeconds, runs);
    std::fprintf(stderr, "%-6s %6s %12s %12s %7s %12s %12s\n", "format", "files", "TagLib f/s", "ours f/s",
                 "ratio", "MediaAsset", "handlers");
    for (const Line& l : lines) {
        const double n = double(l.files);
        std::fprintf(stderr, "%-6s %6lld %12.0f %12.0f %7.2f %11.0f%% %11.0f%%\n", qPrintable(l.format),
                     static_cast<long long>(l.files), n / l.taglib, n / l.pipeline, l.pipeline / l.taglib,
                     l.format == QLatin1String("flac") ? 0.0 : 100 * l.media / l.pipeline,
                     100 * l.handlers / l.pipeline);
    }
    const double n = double(files.size());
    std::fprintf(stderr, "%-6s %6lld %12.0f %12.0f %7.2f   (ours: folder scan + readFile)\n", "all",
                 static_cast<long long>(files.size()), n / totalTagLib, n / totalPipeline,
                 totalPipeline / totalTagLib);
    std::fprintf(stderr,
                 "ratio = our time / TagLib time; MediaAsset and handlers: time of each part alone, in %% "
                 "of our time\n(checksum %.1f)\n",
                 checksum);
    return 0;
}
