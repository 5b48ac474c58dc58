#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The category of a debug-log line.
enum class LogCategory { sys, file, api, write, error, info };

// The optional, append-only debug log "Velmora_debug.log". Off by default.
//
// Every file operation runs on the logger's own writer thread, in the order the
// calls were made, so callers on any thread never wait for the disk. Each line
// goes to the file with its own unbuffered write; a line that cannot be written
// is dropped, and no failure reaches a caller. Only a regular file is opened,
// never through a link at its name; it is kept at mode 0600 and a missing log
// folder is created with mode 0700.
class DebugLogger {
public:
    using Clock = std::function<QDateTime()>;

    // The process-wide logger, writing to defaultLogDirectory(). Made on first
    // use and never destroyed; its writer thread is stopped (after finishing the
    // queued work) when the process exits.
    static DebugLogger& shared();

    // A logger writing to `logDirectory`/Velmora_debug.log. The clock gives the
    // time stamps (local time); by default the current time. Making the logger
    // opens and writes nothing. The destructor finishes the queued work first.
    explicit DebugLogger(const QString& logDirectory, Clock clock = {});
    ~DebugLogger();
    DebugLogger(const DebugLogger&) = delete;
    DebugLogger& operator=(const DebugLogger&) = delete;

    // Sets the flag at once and (re)opens the file with a banner and the system
    // lines, or closes it, on the writer thread. Switching on twice opens twice.
    void setEnabled(bool enabled);
    bool isEnabled() const;

    // One line "[time] [TAG  ] message"; nothing at all while logging is off.
    // Control characters in the message are written out and a long message is
    // cut (TextUtil::logLine).
    void log(const QString& message, LogCategory category);
    // The frame of a batch run: a rule of 80 "-" and a start line, an end line
    // and a rule. Nothing while logging is off.
    void logSessionStart(const QString& directory, int fileCount);
    void logSessionEnd(int updated, int skipped, int problems);
    // Deletes the file; when logging is on, opens a fresh one with a banner and
    // the system lines.
    void clearLog();

    // The path of the log file.
    QString logFileURL() const;

    // Blocks until everything queued before the call has been written.
    void flush();

    // <XDG data folder>/Velmora.
    static QString defaultLogDirectory();

    // Pieces of the file format.
    static QString categoryTag(LogCategory category);
    static QString formatLine(const QDateTime& time, LogCategory category, const QString& message);
    static QString appInfoLine(const QString& version, const QString& buildNumber);
    static QString systemInfoLine();

private:
    void enqueue(std::function<void()> task);
    void run();
    void shutdown();

    // Writer thread only.
    QDateTime now() const;
    void applyEnabled(bool enabled);
    void openLogFile();
    void writeSystemInfo();
    void writeLine(LogCategory category, const QString& message);
    void writeRaw(const QByteArray& bytes);

    const QString m_directory;
    const QString m_path;
    const Clock m_clock;
    std::atomic<bool> m_enabled{false};
    int m_fd = -1; // writer thread only

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::deque<std::function<void()>> m_queue;
    std::uint64_t m_queued = 0;
    std::uint64_t m_done = 0;
    bool m_stopping = false;
    bool m_finished = false;
    std::thread m_thread; // started last, after every other member exists
};
