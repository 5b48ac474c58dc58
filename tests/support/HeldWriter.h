#pragma once

#include "tagio/UniversalTagWriter.h"

#include <condition_variable>
#include <mutex>

// A real writer whose writes wait at the door until the test opens it.
class HeldWriter : public UniversalTagWriter {
public:
    // Opens the door when it ends. A view model's end waits for the writes it began: declared
    // after the view model (or the view or window that owns it), this lets them land first, also
    // where a failed assertion leaves the test early.
    struct OpenAtEnd {
        HeldWriter& writer;
        ~OpenAtEnd() { writer.open(); }
    };
    [[nodiscard]] OpenAtEnd openAtEnd() { return {*this}; }

    FileIdentity writeGenre(const QString& genre, std::optional<TagYear> year, std::optional<QString> title,
                            std::optional<QString> artist, const QString& path, AudioFormat format,
                            const std::optional<FileIdentity>& expected) override {
        {
            std::unique_lock lock(m_mutex);
            ++m_waiting;
            m_changed.wait(lock, [&] { return m_open; });
            --m_waiting;
        }
        return UniversalTagWriter::writeGenre(genre, year, title, artist, path, format, expected);
    }
    int waiting() {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }
    void open(bool open = true) {
        std::lock_guard lock(m_mutex);
        m_open = open;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_waiting = 0;
    bool m_open = false;
};
