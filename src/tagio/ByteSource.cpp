#include "tagio/ByteSource.h"

#include "tagio/Bytes.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<ByteSource> ByteSource::open(const QString& path, Links links) {
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(native.constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::refuse ? O_NOFOLLOW : 0));
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return std::nullopt;
    }
    return ByteSource(fd, static_cast<qint64>(st.st_size), path);
}

ByteSource::ByteSource(int fd, qint64 size, QString path) : m_fd(fd), m_size(size), m_path(std::move(path)) {}

ByteSource::ByteSource(ByteSource&& other) noexcept
    : m_fd(other.m_fd), m_size(other.m_size), m_path(std::move(other.m_path)) {
    other.m_fd = -1;
}

ByteSource& ByteSource::operator=(ByteSource&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = other.m_fd;
        m_size = other.m_size;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

ByteSource::~ByteSource() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<QByteArray> ByteSource::read(qint64 offset, qint64 length) const {
    if (m_fd < 0 || !Bytes::fits(m_size, offset, length)) {
        return std::nullopt;
    }
    QByteArray out;
    out.resize(length);
    if (!readInto(out.data(), offset, length)) {
        return std::nullopt;
    }
    return out;
}

bool ByteSource::readInto(char* buffer, qint64 offset, qint64 length) const {
    if (m_fd < 0 || !Bytes::fits(m_size, offset, length)) {
        return false;
    }
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, buffer + done, static_cast<size_t>(length - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false; // the file shrank under us
        }
        done += n;
    }
    return true;
}

QByteArray ByteSource::readAtMost(qint64 offset, qint64 length) const {
    if (offset < 0 || length <= 0 || offset >= m_size) {
        return {};
    }
    const qint64 available = std::min(length, m_size - offset);
    return read(offset, available).value_or(QByteArray());
}

std::optional<QByteArray> ByteSource::readAll() const {
    return read(0, m_size);
}

QString errnoText(int error) {
    char buffer[256];
    // The GNU variant returns a pointer to the text (maybe not into buffer).
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}
