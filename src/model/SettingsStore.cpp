#include "model/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

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

} // namespace

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath()) {}

SettingsStore::SettingsStore(QString filePath) : m_path(std::move(filePath)) {
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
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (document.isObject()) {
        m_values = document.object();
    }
    // Keep the file private even when someone loosened it.
    ::chmod(QFile::encodeName(m_path).constData(), 0600);
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

bool SettingsStore::commit() {
    QByteArray bytes;
    {
        std::lock_guard lock(m_mutex);
        bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    // The temporary file gets owner-only permissions before any secret is written.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        return false;
    }
    ::chmod(QFile::encodeName(m_path).constData(), 0600);
    return true;
}
