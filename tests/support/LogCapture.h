#pragma once

#include <QString>
#include <QStringList>

// Debug log on while alive; entries() gives the FILE, ERROR and API messages since, as "FILE |READ: a.mp3".
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList entries() const;
};
