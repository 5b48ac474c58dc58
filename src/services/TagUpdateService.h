#pragma once

#include "model/MusicFile.h"
#include "model/SettingsSnapshot.h"
#include "services/WriteUndoManager.h"
#include "tagio/TagYear.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class UniversalTagWriter;

// The per-file write decision: builds the genre to write (mapping, decade
// label), records the undo entry, writes genre and year (and, when asked, the
// repaired title and artist) and checks the genre read back.
//
// Blocking and thread-safe: several files may be updated at once from worker
// threads; the service keeps no state between calls.
class TagUpdateService {
public:
    struct UpdateResult {
        MusicFile file; // as passed in
        bool success = false;
        std::optional<QString> errorMessage;
        std::optional<QString> writtenGenre;
        // The file as the write left it (its next write expects this); none when not written.
        std::optional<FileIdentity> identity;
    };

    // Gives the current settings; called once for each file, so a change
    // made during a run takes effect at the next file.
    using SettingsSource = std::function<std::shared_ptr<const SettingsSnapshot>()>;

    // `writer` defaults to a new writer; `undo` to the shared undo log;
    // `mappingTarget` (where automatic genre mappings are appended, on its
    // own thread) to AppSettings::shared(), which must have been created on
    // the main thread before the first update.
    explicit TagUpdateService(std::shared_ptr<UniversalTagWriter> writer = {},
                              WriteUndoManager* undo = nullptr, AppSettings* mappingTarget = nullptr);

    const std::shared_ptr<UniversalTagWriter>& writer() const { return m_writer; }

    // Never throws: every failure is a result with success false. The undo
    // entry goes to `session` (see WriteUndoManager::recordEntry); without
    // one, to the log's pending or current session.
    UpdateResult updateFile(const MusicFile& file, const SettingsSource& settings = defaultSettings()) const;
    UpdateResult updateFile(const MusicFile& file, WriteUndoManager::SessionId session,
                            const SettingsSource& settings = defaultSettings()) const;

    // The genre text of a file made ready for composing: trailing NULs
    // dropped, the values of a multi-value text joined by " / " and, for the
    // ID3 formats, numeric genre references ("(17)", a bare "17") resolved.
    static QString cleanGenreText(const QString& genre, AudioFormat format);

    static const SettingsSource& defaultSettings();

    // What a write of the file would do with these settings, without writing
    // or recording anything: the genre it writes, or none when it leaves the
    // file alone because the genre already carries a decade label (`label`
    // then names it). A file without a year to label gives its genre unchanged
    // here; the write reports it as a failure.
    struct GenrePlan {
        std::optional<QString> genre;
        std::optional<QString> label;
    };
    static GenrePlan plannedGenre(const MusicFile& file, const SettingsSnapshot& settings);

private:
    // The title and artist a repaired read gave, written back with the genre.
    struct TagRepair {
        QString title;
        QString artist;
    };

    UpdateResult run(const MusicFile& file, const SettingsSource& settings,
                     std::optional<WriteUndoManager::SessionId> session) const;
    UpdateResult update(const MusicFile& file, const SettingsSnapshot& settings,
                        std::optional<WriteUndoManager::SessionId> session) const;
    void appendAutomaticMapping(const GenreMapping& mapping) const;
    WriteUndoManager::EntryId recordUndoEntry(const MusicFile& file,
                                              const std::optional<TagYear>& yearToWrite,
                                              const std::optional<TagRepair>& repair,
                                              std::optional<WriteUndoManager::SessionId> session) const;
    bool writeTags(const MusicFile& file, const QString& genre, const std::optional<TagYear>& yearToWrite,
                   const std::optional<TagRepair>& repair, UpdateResult& result) const;
    bool genreReadsBack(const MusicFile& file, const QString& genre) const;

    std::shared_ptr<UniversalTagWriter> m_writer;
    WriteUndoManager* m_undo;
    AppSettings* m_mappingTarget;
};
