#pragma once

#include "model/AppError.h"
#include "tagio/UniversalTagWriter.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

// A writer that touches no file: it remembers every call and the genre last
// written per path, and fails for the paths it is told to.
class FakeTagWriter : public UniversalTagWriter {
public:
    struct Call {
        QString genre;
        std::optional<int> year;
        std::optional<QString> title;
        std::optional<QString> artist;
        QString path;
        AudioFormat format;
    };

    FileIdentity writeGenre(const QString& genre, std::optional<TagYear> year, std::optional<QString> title,
                            std::optional<QString> artist, const QString& path, AudioFormat format,
                            const std::optional<FileIdentity>&) override {
        std::lock_guard lock(m_mutex);
        m_calls.append(
            Call{genre, year ? std::optional<int>(year->year) : std::nullopt, title, artist, path, format});
        if (m_failingPaths.contains(path)) {
            throw AppError::tagWriteFailed(path, QStringLiteral("Atomic write failed: Permission denied"));
        }
        if (!isWritableFormat(format)) {
            throw AppError::unsupportedFormat(rawValue(format));
        }
        m_stored[path] = m_storeAs.value(path, genre);
        return {};
    }

    std::optional<QString> readGenre(const QString& path, AudioFormat) override {
        std::lock_guard lock(m_mutex);
        if (m_unreadable.contains(path) || !m_stored.contains(path)) {
            throw AppError::tagReadFailed(path, QStringLiteral("unreadable"));
        }
        return m_stored.value(path);
    }

    TitleArtist readTitleAndArtist(const QString& path, AudioFormat) override {
        std::lock_guard lock(m_mutex);
        return m_titleArtist.value(path);
    }

    // Set up before the calls begin.
    void failWritesTo(const QString& path) { m_failingPaths.insert(path); }
    void failReadsOf(const QString& path) { m_unreadable.insert(path); }
    // Later writes to `path` store `genre` instead of what was asked.
    void storeAs(const QString& path, const QString& genre) { m_storeAs[path] = genre; }
    void setTitleArtist(const QString& path, const TitleArtist& stored) { m_titleArtist[path] = stored; }
    QList<Call> calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    mutable std::mutex m_mutex;
    QList<Call> m_calls;
    QSet<QString> m_failingPaths;
    QSet<QString> m_unreadable;
    QHash<QString, QString> m_stored;
    QHash<QString, QString> m_storeAs;
    QHash<QString, TitleArtist> m_titleArtist;
};
