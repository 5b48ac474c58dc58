#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A read-only view of a file by positioned reads (no memory map, no
// whole-file read unless asked). Every read is checked against the file size
// taken when the file was opened.
class ByteSource {
public:
    enum class Links { follow, refuse };

    // Opens the file without ever waiting (a FIFO or device at the path is
    // refused at once); no value, errno set, when it cannot be opened, is not
    // a regular file (EINVAL) or, with Links::refuse, is a symbolic link (ELOOP).
    static std::optional<ByteSource> open(const QString& path, Links links = Links::follow);

    ByteSource(ByteSource&& other) noexcept;
    ByteSource& operator=(ByteSource&& other) noexcept;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    ~ByteSource();

    qint64 size() const { return m_size; }
    const QString& path() const { return m_path; }
    // The open file, for copying ranges of it and for its status.
    int descriptor() const { return m_fd; }

    // Exactly `length` bytes at `offset`, or no value when they do not all
    // lie inside the file or the read fails.
    std::optional<QByteArray> read(qint64 offset, qint64 length) const;
    // Fills `buffer` with exactly `length` bytes at `offset`; false when they
    // do not all lie inside the file or the read fails.
    bool readInto(char* buffer, qint64 offset, qint64 length) const;
    // Up to `length` bytes at `offset` (fewer at the end of the file).
    QByteArray readAtMost(qint64 offset, qint64 length) const;
    // The whole file, or no value when it cannot be read completely.
    std::optional<QByteArray> readAll() const;

private:
    ByteSource(int fd, qint64 size, QString path);
    int m_fd = -1;
    qint64 m_size = 0;
    QString m_path;
};

// The system's text for an errno value, as the read and write failures give it.
QString errnoText(int error);
