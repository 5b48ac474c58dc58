#include "model/SettingsStore.h"

#include "model/Console.h"
#include "model/ExchangeFile.h"
#include "model/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// An import turns each entry of an exchange file into a stored mapping with a
// fresh id, kept as base64: the table grows by at most about 3.7 times the
// file's size. The read limit leaves room for the largest import and more.
static_assert(SettingsStore::maxFileBytes > 5 * ExchangeFile::maxFileSize);

namespace {

// Data values are kept as {"data": base64} so that they never pass for a text.
const QString kDataMember = QStringLiteral("data");

bool isDataValue(const QJsonValue& value) {
    if (!value.isObject()) {
        return false;
    }
    const QJsonObject object = value.toObject();
    return object.size() == 1 && object.value(kDataMember).isString();
}

// The whole content of an open regular file of at most `maxBytes`; none for
// anything else (a pipe, a device, a folder, a larger file, a read error).
std::optional<QByteArray> readRegularFile(int fd, qint64 maxBytes) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes) {
        return std::nullopt;
    }
    // Sized by the file, not by the limit; a file that grows while it is read
    // gets room up to one byte past the limit.
    QByteArray bytes(static_cast<qsizetype>(info.st_size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    for (;;) {
        if (total == bytes.size()) {
            if (total > maxBytes) {
                return std::nullopt; // it grew while being read
            }
            bytes.resize(std::min<qsizetype>(total * 2 + 4096, static_cast<qsizetype>(maxBytes) + 1));
        }
        const ssize_t got = ::read(fd, bytes.data() + total, static_cast<size_t>(bytes.size() - total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    if (total > maxBytes) {
        return std::nullopt;
    }
    bytes.truncate(total);
    return bytes;
}

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath()) {}

SettingsStore::SettingsStore(QString filePath, qint64 maxBytes)
    : m_path(std::move(filePath)), m_maxBytes(maxBytes) {
    loadFile();
}

QString SettingsStore::defaultFilePath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/Velmora/settings.json");
}

void SettingsStore::loadFile() {
    const QByteArray path = QFile::encodeName(m_path);
    // Non-blocking, so that a pipe at the path cannot hold up the start.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_unreadable = errno != ENOENT;
        return;
    }
    const std::optional<QByteArray> bytes = readRegularFile(fd, m_maxBytes);
    ::close(fd);
    if (!bytes) {
        m_unreadable = true;
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (document.isObject()) {
        m_values = document.object();
    } else if (!bytes->trimmed().isEmpty()) {
        m_unreadable = true;
        return;
    }
    // Keep the file private even when someone loosened it.
    ::chmod(path.constData(), 0600);
}

bool SettingsStore::moveUnreadableAside() {
    if (!m_unreadable) {
        return true;
    }
    const QString base = m_path + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n) {
        target = base + QLatin1Char('-') + QString::number(n);
    }
    const QByteArray to = QFile::encodeName(target);
    if (::rename(QFile::encodeName(m_path).constData(), to.constData()) != 0) {
        if (errno == ENOENT) {
            m_unreadable = false; // gone meanwhile: nothing to keep
            return true;
        }
        Console::line(QStringLiteral("[SettingsStore] Unreadable settings file left in place, not saved: ") +
                      m_path);
        return false;
    }
    struct stat info {};
    if (::lstat(to.constData(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::chmod(to.constData(), 0600);
    }
    Console::line(QStringLiteral("[SettingsStore] Unreadable settings file kept as ") + target +
                  QStringLiteral("; continuing with defaults"));
    m_unreadable = false;
    return true;
}

std::optional<QString> SettingsStore::string(const QString& key) const {
    std::lock_guard lock(m_mutex);
    const QJsonValue value = m_values.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<QJsonValue> SettingsStore::object(const QString& key) const {
    std::lock_guard lock(m_mutex);
    if (!m_values.contains(key)) {
        return std::nullopt;
    }
    return m_values.value(key);
}

qint64 SettingsStore::integer(const QString& key) const {
    std::lock_guard lock(m_mutex);
    const QJsonValue value = m_values.value(key);
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d >= -9.0e15 && d <= 9.0e15) {
            return static_cast<qint64>(d);
        }
        return 0;
    }
    if (value.isBool()) {
        return value.toBool() ? 1 : 0;
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 parsed = value.toString().trimmed().toLongLong(&ok);
        return ok ? parsed : 0;
    }
    return 0;
}

std::optional<QByteArray> SettingsStore::data(const QString& key) const {
    std::lock_guard lock(m_mutex);
    const QJsonValue value = m_values.value(key);
    if (!isDataValue(value)) {
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(
        value.toObject().value(kDataMember).toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return decoded.decoded;
}

bool SettingsStore::contains(const QString& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.contains(key);
}

void SettingsStore::setString(const QString& key, const QString& value) {
    std::lock_guard lock(m_mutex);
    m_values.insert(key, value);
}

void SettingsStore::setBool(const QString& key, bool value) {
    std::lock_guard lock(m_mutex);
    m_values.insert(key, value);
}

void SettingsStore::setInteger(const QString& key, qint64 value) {
    std::lock_guard lock(m_mutex);
    m_values.insert(key, static_cast<double>(value));
}

void SettingsStore::setData(const QString& key, const QByteArray& value) {
    std::lock_guard lock(m_mutex);
    QJsonObject wrapped;
    wrapped.insert(kDataMember, QString::fromLatin1(value.toBase64()));
    m_values.insert(key, wrapped);
}

void SettingsStore::remove(const QString& key) {
    std::lock_guard lock(m_mutex);
    m_values.remove(key);
}

std::optional<SettingsStore::CommitFailure> SettingsStore::lastCommitFailure() const {
    std::lock_guard lock(m_mutex);
    return m_lastFailure;
}

bool SettingsStore::fail(CommitFailure failure) {
    std::lock_guard lock(m_mutex);
    m_lastFailure = std::move(failure);
    return false;
}

bool SettingsStore::commit() {
    QByteArray bytes;
    {
        std::lock_guard lock(m_mutex);
        bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
        // The next start could not read it: the file as it is stays.
        if (bytes.size() > m_maxBytes) {
            m_lastFailure = CommitFailure{true, {}};
            return false;
        }
        if (!moveUnreadableAside()) {
            m_lastFailure =
                CommitFailure{false, QStringLiteral("unreadable settings file left in place: ") + m_path};
            return false;
        }
    }
    PrivateFiles::makeDirectory(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail({false, file.errorString()});
    }
    // The temporary file gets owner-only permissions before any secret is written.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        const QString description = file.errorString();
        file.cancelWriting();
        return fail({false, description});
    }
    if (!file.commit()) {
        return fail({false, file.errorString()});
    }
    ::chmod(QFile::encodeName(m_path).constData(), 0600);
    std::lock_guard lock(m_mutex);
    m_lastFailure.reset();
    return true;
}
