#pragma once

#include <QString>
#include <QStringList>

// Switches the shared debug log on for the lifetime of the object and hands
// out the messages of the FILE, ERROR and API categories written since (the
// text after the category tag), each with its category tag, e.g.
// "FILE |READ: a.mp3" or "API  |MB: 12ms → kein Ergebnis | a.mp3".
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList entries() const;
};
