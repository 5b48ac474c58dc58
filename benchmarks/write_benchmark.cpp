// Times a genre write (UniversalTagWriter::writeGenre: the handler's pieces
// streamed into a replacement, fsync, rename, folder fsync) beside the floor
// of any atomic replace in the same run: copy_file_range of the whole file
// into a new file in the same folder, fsync, rename and folder fsync. Files:
//
//   MP3  5 MB  (ID3v2.3 tag with a 300 KB picture frame)
//   FLAC 30 MB (STREAMINFO, comments, a 300 KB picture block)
//   M4A  8 MB  (movie after the media data, one chunk offset table)
//   WAV  50 MB (fmt, data and an id3 chunk at the end)
//
// a 400 KB MP3 alone in its folder and among 20,000 other files (a write also
// looks through its folder for leftovers of its own killed writes), the check
// of one leftover for whether any process has it open (through the open files
// of every process on the machine, their count shown beside it), and the
// peak memory (ru_maxrss of a child process) of one write of a 600 MB WAV
// file, of a 267 MB MP3 whose tag holds a 250 MB picture, of the read and the
// write of an MP3 whose ID3v2.3 tag of about 61 MB is unsynchronised as a
// whole, and of the write of one with an unsynchronised ID3v2.4 frame of
// 60 MiB, each measured from the child's size before the read or write.
//
//   cmake -S . -B build/rel -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target write_benchmark
//   build/rel/write_benchmark [folder]
//
// The files are generated in `folder` (default: a temporary folder; it must be
// on the disk to be measured) and removed afterwards. Each time is the median
// of WRITE_BENCHMARK_RUNS runs (default 15), write and floor taking turns.
// Results go to standard error; standard output (console lines) is discarded.

#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "tagio/LeftoverSweep.h"
#include "tagio/UniversalTagReader.h"
#include "tagio/UniversalTagWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray bytes4(quint32 a, quint32 b, quint32 c, quint32 d) {
    const char out[4] = {char(a), char(b), char(c), char(d)};
    return QByteArray(out, 4);
}
QByteArray be32(quint32 v) {
    return bytes4(v >> 24, v >> 16, v >> 8, v);
}
QByteArray le32(quint32 v) {
    return bytes4(v, v >> 8, v >> 16, v >> 24);
}
QByteArray atom(const char* type, const QByteArray& payload) {
    return be32(quint32(payload.size() + 8)) + QByteArray(type, 4) + payload;
}

// Appends `size` bytes of noise (never starting like a container) to `out`.
void appendNoise(QFile& out, qint64 size) {
    std::mt19937 random(7);
    QByteArray block(1 << 20, '\0');
    for (char& c : block) {
        c = char(random() | 0x01);
    }
    for (qint64 left = size; left > 0; left -= block.size()) {
        out.write(block.constData(), std::min<qint64>(left, block.size()));
    }
}

void writeFile(const QString& path, const QByteArray& head, qint64 noise, const QByteArray& tail = {}) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        std::exit(1);
    }
    out.write(head);
    appendNoise(out, noise);
    out.write(tail);
}

void makeMp3(const QString& path, qint64 size) {
    QByteArray frames = QByteArray("TIT2") + be32(6) + QByteArray(2, '\0') + QByteArray("\x03Title", 6);
    const QByteArray picture = QByteArray("\x00image/jpeg\x00\x03\x00", 14) + QByteArray(300 * 1024, 'p');
    frames += QByteArray("APIC") + be32(quint32(picture.size())) + QByteArray(2, '\0') + picture;
    const quint32 n = quint32(frames.size());
    const QByteArray header = QByteArray("ID3\x03\x00\x00", 6) +
                              bytes4((n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        std::exit(1);
    }
    out.write(header + frames);
    // MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, 417 bytes each) of noise:
    // a tag before no audio is refused for writing like the reader refuses it.
    QByteArray frame = QByteArray::fromHex("FFFB9064");
    frame += QByteArray(417 - frame.size(), char(0x55));
    for (qint64 left = size - out.pos(); left > 0; left -= frame.size()) {
        out.write(frame.constData(), std::min<qint64>(left, frame.size()));
    }
}

// An MP3 whose ID3 tag of about 61 MB is unsynchronised: an ID3v2.3 tag as
// a whole (four frames of 15 MiB) or an ID3v2.4 tag's one frame of 60 MiB,
// the frame bodies holding an FF byte in every 64. About 1 MB of audio follows.
void makeUnsynchronisedMp3(const QString& path, int version) {
    QByteArray body = QByteArray("velmora\0", 8) + QByteArray((15 << 20) - 8, 'p');
    for (qsizetype i = 8; i < body.size(); i += 64) {
        body[i] = char(0xFF);
    }
    const auto unsynchronised = [](QByteArray bytes) {
        return bytes.replace("\xFF", QByteArray("\xFF\0", 2));
    };
    const auto syncsafe = [](quint32 n) {
        return bytes4((n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F);
    };
    QByteArray frames = QByteArray("TIT2") + be32(6) + QByteArray(2, '\0') + QByteArray("\x03Title", 6);
    char flags = 0;
    if (version == 3) {
        for (int k = 0; k < 4; ++k) {
            frames += QByteArray("PRIV") + be32(quint32(body.size())) + QByteArray(2, '\0') + body;
        }
        frames = unsynchronised(frames);
        flags = char(0x80);
    } else {
        const QByteArray frame = unsynchronised(body.repeated(4));
        frames += QByteArray("PRIV") + syncsafe(quint32(frame.size())) + QByteArray("\0\x02", 2) + frame;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        std::exit(1);
    }
    out.write(QByteArray("ID3") + char(version) + char(0) + flags + syncsafe(quint32(frames.size())) +
              frames);
    QByteArray frame = QByteArray::fromHex("FFFB9064");
    frame += QByteArray(417 - frame.size(), char(0x55));
    out.write(frame.repeated(1'000'000 / frame.size()));
}

// An MP3 of about 267 MB: an ID3v2.3 tag with a title and a picture of
// `picture` bytes (a hole on the disk, but for its header), then 17 MB of audio.
void makeBigPictureMp3(const QString& path, qint64 picture) {
    const QByteArray head = QByteArray("\x00image/jpeg\x00\x03\x00", 14);
    QByteArray frames = QByteArray("TIT2") + be32(6) + QByteArray(2, '\0') + QByteArray("\x03Title", 6);
    frames += QByteArray("APIC") + be32(quint32(picture)) + QByteArray(2, '\0') + head;
    const quint32 n = quint32(frames.size() - head.size() + picture);
    const QByteArray header = QByteArray("ID3\x03\x00\x00", 6) +
                              bytes4((n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(header + frames) != header.size() + frames.size() ||
        !out.resize(10 + n) || !out.seek(10 + n)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        std::exit(1);
    }
    QByteArray frame = QByteArray::fromHex("FFFB9064");
    frame += QByteArray(417 - frame.size(), char(0x55));
    out.write(frame.repeated(17'000'000 / frame.size()));
}

void makeFlac(const QString& path, qint64 size) {
    const QByteArray info =
        QByteArray::fromHex("1000100000000000000000AC44F0000000000000000000000000000000000000"
                            "0000");
    const QByteArray comments = le32(7) + "Velmora" + le32(1) + le32(11) + "GENRE=House";
    const QByteArray picture(300 * 1024, 'p');
    auto block = [](int type, const QByteArray& body, bool last) {
        return QByteArray(1, char(type | (last ? 0x80 : 0))) + be32(quint32(body.size())).mid(1) + body;
    };
    const QByteArray head = "fLaC" + block(0, info.left(34), false) + block(4, comments, false) +
                            block(6, picture, false) + block(1, QByteArray(1024, '\0'), true);
    writeFile(path, head, size - head.size());
}

void makeM4a(const QString& path, qint64 size) {
    const QByteArray ftyp = atom("ftyp", QByteArray("M4A \0\0\0\0M4A mp42isom", 20));
    const qint64 media = size - ftyp.size() - 8 - 8192;
    QByteArray offsets = be32(0) + be32(400);
    for (int k = 0; k < 400; ++k) {
        offsets += be32(quint32(ftyp.size() + 8 + k * (media / 400)));
    }
    // One AAC sound track (44.1 kHz, three minutes): a movie without one is refused.
    const QByteArray mp4a =
        atom("mp4a", QByteArray(6, '\0') + QByteArray::fromHex("0001") + QByteArray(8, '\0') +
                         QByteArray::fromHex("00020010000000") + QByteArray(1, '\0') + be32(44100u << 16));
    const QByteArray stsd = atom("stsd", be32(0) + be32(1) + mp4a);
    const QByteArray stbl = atom("stbl", stsd + atom("stco", offsets));
    const QByteArray mdhd =
        atom("mdhd", be32(0) + be32(0) + be32(0) + be32(44100) + be32(44100 * 180) + be32(0));
    const QByteArray soun = atom("hdlr", be32(0) + be32(0) + "soun" + QByteArray(13, '\0'));
    const QByteArray trak = atom("trak", atom("mdia", mdhd + soun + atom("minf", stbl)));
    const QByteArray item = atom("\xA9gen", atom("data", be32(1) + be32(0) + "House"));
    const QByteArray hdlr = atom("hdlr", QByteArray(8, '\0') + "mdirappl" + QByteArray(9, '\0'));
    const QByteArray udta = atom("udta", atom("meta", QByteArray(4, '\0') + hdlr + atom("ilst", item)));
    const QByteArray moov = atom("moov", atom("mvhd", QByteArray(100, '\0')) + trak + udta);
    writeFile(path, ftyp + be32(quint32(media + 8)) + "mdat", media, moov);
}

void makeWav(const QString& path, qint64 size) {
    const QByteArray fmt =
        QByteArray("fmt ") + le32(16) + QByteArray::fromHex("0100020044AC000010B1020004001000");
    const qint64 data = size - 12 - fmt.size() - 8;
    const QByteArray head =
        QByteArray("RIFF") + le32(quint32(size - 8)) + "WAVE" + fmt + "data" + le32(quint32(data));
    writeFile(path, head, data);
}

// copy_file_range + fsync + rename + folder fsync of the whole file.
void floorReplace(const QString& path) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".floor";
    const int in = ::open(target.constData(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    for (ssize_t n = 1; n > 0;) {
        n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    }
    ::fsync(out);
    ::close(out);
    ::close(in);
    ::rename(temporary.constData(), target.constData());
    const int folder =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    ::fsync(folder);
    ::close(folder);
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void timeFormat(const char* name, const QString& path, AudioFormat format, int runs) {
    UniversalTagWriter writer;
    QList<double> ours, floor;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        writer.writeGenre(run % 2 ? QStringLiteral("House 80er") : QStringLiteral("Techno 90er"), 1987,
                          std::nullopt, std::nullopt, path, format);
        ours << timer.nsecsElapsed() / 1e6;
        timer.restart();
        floorReplace(path);
        floor << timer.nsecsElapsed() / 1e6;
    }
    const double o = median(ours), f = median(floor);
    std::fprintf(stderr, "%-5s %6.1f MB   write %8.1f ms   floor %8.1f ms   ratio %.2f\n", name,
                 QFileInfo(path).size() / 1e6, o, f, o / f);
}

// Peak memory of `work` (a write or a read of `path`) in a child process,
// above the child's size at its start.
void peakMemory(const char* name, const QString& path, const char* what, const std::function<void()>& work) {
    const qint64 size = QFileInfo(path).size();
    const pid_t child = ::fork();
    if (child == 0) {
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        try {
            work();
        } catch (const AppError& error) {
            std::fprintf(stderr, "%s %s failed: %s\n", name, what, error.what());
            ::_exit(1);
        }
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        std::fprintf(stderr, "%-9s %6.1f MB   peak memory of the %s %.1f MB (process peak %.1f MB)\n", name,
                     size / 1e6, what, (after.ru_maxrss - before.ru_maxrss) / 1024.0,
                     after.ru_maxrss / 1024.0);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// The descriptors of every process this one may look into, as /proc lists them.
int openDescriptors() {
    int count = 0;
    for (const QString& process : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (process.front().isDigit()) {
            count += int(QDir(QStringLiteral("/proc/") + process + QStringLiteral("/fdinfo"))
                             .entryList(QDir::Files | QDir::System)
                             .size());
        }
    }
    return count;
}

// How the sweep told an open file before it read fdinfo: a stat() through
// every /proc/PID/fd link, which reaches the file system of each open file.
// Kept here only to compare the two on the same descriptors.
bool openByStatThrough(int own) {
    struct stat file {};
    if (::fstat(own, &file) != 0) {
        return true;
    }
    const QByteArray ownEntry = "/proc/" + QByteArray::number(::getpid()) + "/fd/" + QByteArray::number(own);
    bool open = false;
    DIR* processes = ::opendir("/proc");
    while (const dirent* process = open || processes == nullptr ? nullptr : ::readdir(processes)) {
        const QByteArray folder = QByteArray("/proc/") + process->d_name + "/fd/";
        DIR* descriptors =
            process->d_name[0] >= '0' && process->d_name[0] <= '9' ? ::opendir(folder) : nullptr;
        while (const dirent* descriptor = descriptors == nullptr ? nullptr : ::readdir(descriptors)) {
            struct stat st {};
            const QByteArray entry = folder + descriptor->d_name;
            open = open || (entry != ownEntry && ::stat(entry, &st) == 0 && st.st_dev == file.st_dev &&
                            st.st_ino == file.st_ino);
        }
        if (descriptors != nullptr) {
            ::closedir(descriptors);
        }
    }
    if (processes != nullptr) {
        ::closedir(processes);
    }
    return open;
}

// The sweep's check whether some process holds a leftover open, now and as it
// was, with `extra` more descriptors open in this process (a desktop session
// holds a few thousand), each the median of `runs`.
void timeOpenCheck(const QString& path, int runs, int extra) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < rlim_t(extra) + 64) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(extra) + 64);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    QList<int> held;
    for (int i = 0; i < extra; ++i) {
        const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (opened < 0) {
            break;
        }
        held << opened;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QList<double> now, before;
    bool open = false;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        open = LeftoverSweep::isOpenByAnyProcess(fd, QFile::encodeName(QFileInfo(path).fileName())) || open;
        now << timer.nsecsElapsed() / 1e6;
        timer.restart();
        open = openByStatThrough(fd) || open;
        before << timer.nsecsElapsed() / 1e6;
    }
    const int descriptors = openDescriptors();
    ::close(fd);
    for (const int opened : held) {
        ::close(opened);
    }
    std::fprintf(stderr, "leftover open check   %8.2f ms   stat-through %.2f ms   over %d descriptors%s\n",
                 median(now), median(before), descriptors, open ? " (found open)" : "");
}

void peakWriteMemory(const char* name, const QString& path, AudioFormat format) {
    peakMemory(name, path, "write", [&] {
        UniversalTagWriter().writeGenre(QStringLiteral("House 80er"), 1987, std::nullopt, std::nullopt, path,
                                        format);
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/write-bench-XXXXXX")
                                     : QDir::tempPath() + QStringLiteral("/write-bench-XXXXXX"));
    const QDir dir(temporary.path());
    const int asked = qEnvironmentVariableIntValue("WRITE_BENCHMARK_RUNS");
    const int runs = asked > 0 ? asked : 15;
    std::fflush(stdout);
    if (!std::freopen("/dev/null", "w", stdout)) {
        return 1;
    }
    try {
        makeMp3(dir.filePath("a.mp3"), 5'000'000);
        timeFormat("MP3", dir.filePath("a.mp3"), AudioFormat::mp3, runs);
        makeFlac(dir.filePath("a.flac"), 30'000'000);
        timeFormat("FLAC", dir.filePath("a.flac"), AudioFormat::flac, runs);
        makeM4a(dir.filePath("a.m4a"), 8'000'000);
        timeFormat("M4A", dir.filePath("a.m4a"), AudioFormat::m4a, runs);
        makeWav(dir.filePath("a.wav"), 50'000'000);
        timeFormat("WAV", dir.filePath("a.wav"), AudioFormat::wav, runs);
        QFile::remove(dir.filePath("a.wav"));
        makeMp3(dir.filePath("small.mp3"), 400'000);
        timeFormat("MP3", dir.filePath("small.mp3"), AudioFormat::mp3, runs);
        dir.mkdir(QStringLiteral("crowded"));
        const QDir crowded(dir.filePath(QStringLiteral("crowded")));
        for (int i = 0; i < 20'000; ++i) {
            QFile(crowded.filePath(QStringLiteral("track%1.mp3").arg(i))).open(QIODevice::WriteOnly);
        }
        makeMp3(crowded.filePath("small.mp3"), 400'000);
        timeFormat("MP3 +20k", crowded.filePath("small.mp3"), AudioFormat::mp3, runs);
        timeOpenCheck(dir.filePath("small.mp3"), runs, 1700);
        makeWav(dir.filePath("big.wav"), 600'000'000);
        peakWriteMemory("WAV", dir.filePath("big.wav"), AudioFormat::wav);
        QFile::remove(dir.filePath("big.wav"));
        makeBigPictureMp3(dir.filePath("picture.mp3"), 250'000'000);
        peakWriteMemory("MP3", dir.filePath("picture.mp3"), AudioFormat::mp3);
        QFile::remove(dir.filePath("picture.mp3"));
        const QString whole = dir.filePath("whole.mp3");
        makeUnsynchronisedMp3(whole, 3);
        peakMemory("MP3 v2.3", whole, "read", [&] { UniversalTagReader().readTags(whole); });
        peakWriteMemory("MP3 v2.3", whole, AudioFormat::mp3);
        const QString frame = dir.filePath("frame.mp3");
        makeUnsynchronisedMp3(frame, 4);
        peakWriteMemory("MP3 v2.4", frame, AudioFormat::mp3);
    } catch (const AppError& error) {
        std::fprintf(stderr, "write failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
