#include "model/DebugLogger.h"

#include "model/Console.h"
#include "model/PrivateFiles.h"
#include "model/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFileName = QStringLiteral("Velmora_debug.log");

QByteArray rule(char c) {
    return QByteArray(80, c) + '\n';
}

QString timestamp(const QDateTime& time, bool withMilliseconds) {
    const QDate date = time.date();
    const QTime clock = time.time();
    QString text = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(), date.day(),
                                     clock.hour(), clock.minute(), clock.second());
    if (withMilliseconds) {
        text += QString::asprintf(".%03d", clock.msec());
    }
    return text;
}

QString sessionHeading(const QDateTime& time) {
    return QStringLiteral("=== NEUE SITZUNG: ") + timestamp(time, false) + QStringLiteral(" ===\n");
}

QString orQuestionMark(const QString& text) {
    return text.isEmpty() ? QStringLiteral("?") : text;
}

} // namespace

DebugLogger& DebugLogger::shared() {
    static DebugLogger* const instance = [] {
        auto* logger = new DebugLogger(defaultLogDirectory());
        // Stop the writer thread before the process's static objects go away,
        // so it never runs into torn-down state. The object itself stays. The
        // library state the writer uses is set up first, so that it is torn
        // down only after the handler has run.
        formatLine(QDateTime::currentDateTime(), LogCategory::sys, systemInfoLine());
        std::atexit([] { shared().shutdown(); });
        return logger;
    }();
    return *instance;
}

DebugLogger::DebugLogger(const QString& logDirectory, Clock clock)
    : m_directory(logDirectory), m_path(QDir(logDirectory).filePath(kFileName)),
      m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); })) {
    m_thread = std::thread([this] { run(); });
}

DebugLogger::~DebugLogger() {
    shutdown();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

QString DebugLogger::defaultLogDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return QDir(base).filePath(QStringLiteral("Velmora"));
}

void DebugLogger::setEnabled(bool enabled) {
    m_enabled.store(enabled);
    enqueue([this, enabled] { applyEnabled(enabled); });
}

bool DebugLogger::isEnabled() const {
    return m_enabled.load();
}

void DebugLogger::log(const QString& message, LogCategory category) {
    if (!m_enabled.load()) {
        return;
    }
    enqueue([this, message, category] { writeLine(category, message); });
}

void DebugLogger::logSessionStart(const QString& directory, int fileCount) {
    if (!m_enabled.load()) {
        return;
    }
    enqueue([this, directory, fileCount] {
        writeRaw(rule('-'));
        writeLine(LogCategory::sys, QStringLiteral("SESSION START — Verzeichnis: ") + directory +
                                        QStringLiteral(" | Dateien: ") + QString::number(fileCount));
    });
}

void DebugLogger::logSessionEnd(int updated, int skipped, int problems) {
    if (!m_enabled.load()) {
        return;
    }
    enqueue([this, updated, skipped, problems] {
        writeLine(LogCategory::sys, QStringLiteral("SESSION END — aktualisiert: ") +
                                        QString::number(updated) + QStringLiteral(" | übersprungen: ") +
                                        QString::number(skipped) + QStringLiteral(" | Probleme: ") +
                                        QString::number(problems));
        writeRaw(rule('-'));
    });
}

void DebugLogger::clearLog() {
    enqueue([this] {
        // The open descriptor is kept until a new file replaces it.
        ::unlink(QFile::encodeName(m_path).constData());
        if (m_enabled.load()) {
            openLogFile();
            writeSystemInfo();
        }
    });
}

QString DebugLogger::logFileURL() const {
    return m_path;
}

void DebugLogger::flush() {
    std::unique_lock lock(m_mutex);
    if (std::this_thread::get_id() == m_thread.get_id()) {
        return;
    }
    const std::uint64_t target = m_queued;
    m_progress.wait(lock, [&] { return m_done >= target || m_finished; });
}

// --- Queue -------------------------------------------------------------------

void DebugLogger::enqueue(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        m_queue.push_back(std::move(task));
        ++m_queued;
    }
    m_wake.notify_one();
}

void DebugLogger::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) {
            break;
        }
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A line that cannot be built (out of memory) is dropped.
        }
        task = nullptr;
        lock.lock();
        ++m_done;
        m_progress.notify_all();
    }
    m_finished = true;
    m_progress.notify_all();
}

void DebugLogger::shutdown() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable() && std::this_thread::get_id() != m_thread.get_id()) {
        m_thread.join();
    }
}

// --- Writer thread -----------------------------------------------------------

QDateTime DebugLogger::now() const {
    return m_clock();
}

void DebugLogger::applyEnabled(bool enabled) {
    if (enabled) {
        openLogFile();
        writeSystemInfo();
    } else if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void DebugLogger::openLogFile() {
    PrivateFiles::makeDirectory(m_directory);
    Console::line(QStringLiteral("[DebugLogger] Log-Pfad: ") + m_path);
    // Never through a link at the log's name, never into a pipe or device,
    // and readable by the owner only, whatever mode the file had before.
    int fd = ::open(QFile::encodeName(m_path).constData(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    int error = errno;
    if (fd >= 0) {
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fchmod(fd, 0600) != 0) {
            error = S_ISREG(info.st_mode) ? errno : EINVAL;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        // The previous descriptor, if any, stays in use.
        Console::line(QStringLiteral("[DebugLogger] FEHLER beim Öffnen der Log-Datei: ") +
                      QString::fromStdString(std::generic_category().message(error)));
        return;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
    // Three writes: the leading line feed with the first rule, the date line, the closing rule.
    writeRaw('\n' + rule('='));
    writeRaw(sessionHeading(now()).toUtf8());
    writeRaw(rule('='));
    Console::line(QStringLiteral("[DebugLogger] FileHandle geöffnet ✓ (Append-Modus)"));
}

void DebugLogger::writeSystemInfo() {
    writeLine(LogCategory::sys,
              appInfoLine(QStringLiteral(VELMORA_VERSION), QStringLiteral(VELMORA_BUILD_NUMBER)));
    writeLine(LogCategory::sys, systemInfoLine());
    writeLine(LogCategory::sys, QStringLiteral("Log-Datei: ") + m_path);
}

void DebugLogger::writeLine(LogCategory category, const QString& message) {
    if (m_fd < 0) {
        return;
    }
    writeRaw(formatLine(now(), category, message).toUtf8());
}

void DebugLogger::writeRaw(const QByteArray& bytes) {
    if (m_fd < 0) {
        return;
    }
    // One write per line; only an interrupted or partial write is continued.
    // Any failure drops the rest of the line.
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        left -= written;
    }
}

// --- Format ------------------------------------------------------------------

QString DebugLogger::categoryTag(LogCategory category) {
    switch (category) {
    case LogCategory::sys:
        return QStringLiteral("SYS  ");
    case LogCategory::file:
        return QStringLiteral("FILE ");
    case LogCategory::api:
        return QStringLiteral("API  ");
    case LogCategory::write:
        return QStringLiteral("WRITE");
    case LogCategory::error:
        return QStringLiteral("ERROR");
    case LogCategory::info:
        return QStringLiteral("INFO ");
    }
    return QStringLiteral("INFO ");
}

QString DebugLogger::formatLine(const QDateTime& time, LogCategory category, const QString& message) {
    return QLatin1Char('[') + timestamp(time, true) + QStringLiteral("] [") + categoryTag(category) +
           QStringLiteral("] ") + TextUtil::logLine(message) + QLatin1Char('\n');
}

QString DebugLogger::appInfoLine(const QString& version, const QString& buildNumber) {
    return QStringLiteral("App: Velmora ") + orQuestionMark(version) + QStringLiteral(" (") +
           orQuestionMark(buildNumber) + QLatin1Char(')');
}

QString DebugLogger::systemInfoLine() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const double memory =
        pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize) : 0.0;
    quint64 soft = 0;
    quint64 hard = 0;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        soft = static_cast<quint64>(limit.rlim_cur);
        hard = static_cast<quint64>(limit.rlim_max);
    }
    return QSysInfo::prettyProductName() + QStringLiteral(": ") + QSysInfo::kernelVersion() +
           QStringLiteral(" | RAM: ") + QString::asprintf("%.1f", memory / 1073741824.0) +
           QStringLiteral(" GB | fd-Limit soft: ") + QString::number(soft) + QStringLiteral(" / hard: ") +
           QString::number(hard);
}
