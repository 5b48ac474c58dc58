// Times the reading pipeline (the folder scan plus FileScannerService::readFile
// for every file) beside a plain TagLib FileRef read (tags and duration) of the
// same files, per format, and splits our read into its two parts: the
// TagLib-based MediaAsset (title, artist, album, duration) and our own tag
// handlers (year and genre).
//
// Two folders can be generated into a temporary directory:
//
//   scan_benchmark [count] [fixture folder]
//       `count` (default 2000) copies of the small fixtures of every format
//       (tests/fixtures/scan by default): the per-file overhead of a scan.
//
//   scan_benchmark --real [count] [megabytes]
//       `count` MP3 and `count` M4A files (default 100 each) of about
//       `megabytes` MB (default 4), built from the scan fixtures: the audio is
//       repeated up to the size, and every second file gets a 700 KB cover
//       picture (APIC frame or "covr" item), which is what makes tags large in
//       a real library. MP3 tags alternate between ID3v2.3 and ID3v2.4.
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
#include "tagio/FLACHandler.h"
#include "tagio/ID3v2Handler.h"
#include "tagio/MP4Handler.h"
#include "tagio/MediaAsset.h"
#include "tagio/UniversalTagReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <cstdio>
#include <functional>
#include <random>
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool real = args.removeAll(QStringLiteral("--real")) > 0;
    const QString scanFixtures = QStringLiteral(VELMORA_FIXTURES_DIR) + QStringLiteral("/scan");

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
        // MP3 and M4A sources alternate, so every format gets `count` files.
        QStringList interleaved;
        for (int i = 0; i < 4; ++i) {
            interleaved << sources.at(i) << sources.at(4 + i % 2);
        }
        fillFolder(library, interleaved, 2 * count);
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
                } else {
                    const auto direct = reader.readDirect(file);
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
