#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <mutex>
#include <optional>

// The per-user key-value store behind the settings. Values keep their kind:
// a Bool stays a Bool, an integer an integer, a text a text and a data value
// data. The store is one JSON file, written atomically with mode 0600 (it
// holds API keys and a client secret) in a folder created with mode 0700.
//
// Only a regular file of at most `maxFileBytes` holding a JSON object is read,
// and a commit that would write a larger file writes nothing: a file the next
// start could not read would cost the user every setting. The limit is far
// above what the mapping table can reach by an import (a 10 MiB exchange file
// adds at most about 40 MiB here) or by adding found genres.
// Any other file at the path (unparsable, too large, a pipe or device, not
// readable) leaves the store empty, and before the first commit writes over it
// the file is moved aside as "settings.json.unreadable-<yyyyMMdd-HHmmss>"
// (mode 0600) with one console line, so that no key in it is lost.
class SettingsStore {
public:
    // A store in the user's config folder (".../Velmora/settings.json").
    SettingsStore();
    // A store at an explicit file path (tests use a temporary folder, and a
    // smaller limit to reach it cheaply).
    explicit SettingsStore(QString filePath, qint64 maxBytes = maxFileBytes);

    static QString defaultFilePath();
    static constexpr qint64 maxFileBytes = 64 * 1024 * 1024;
    const QString& filePath() const { return m_path; }

    // Reads: a text (absent or another kind: none); the stored value of any
    // kind (absent: none); an integer (absent or unreadable: 0); a data value
    // (absent or another kind: none).
    std::optional<QString> string(const QString& key) const;
    std::optional<QJsonValue> object(const QString& key) const;
    qint64 integer(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    bool contains(const QString& key) const;

    // Writes change the values in memory; `commit()` writes the file.
    void setString(const QString& key, const QString& value);
    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    void setData(const QString& key, const QByteArray& value);
    void remove(const QString& key);

    // Writes the file atomically; false when that failed (the old file stays)
    // and `lastCommitFailure()` tells why.
    bool commit();

    struct CommitFailure {
        bool tooLarge = false; // the file would exceed the size limit
        QString description;   // the system's description of any other failure
        bool operator==(const CommitFailure&) const = default;
    };
    // Why the last commit wrote nothing; none after one that wrote the file.
    std::optional<CommitFailure> lastCommitFailure() const;
    qint64 maxBytes() const { return m_maxBytes; }

private:
    void loadFile();
    // False when an unreadable file is still in the way.
    bool moveUnreadableAside();

    bool fail(CommitFailure failure);

    QString m_path;
    qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    QJsonObject m_values;
    bool m_unreadable = false;                  // guarded by m_mutex
    std::optional<CommitFailure> m_lastFailure; // guarded by m_mutex
};
