#pragma once

#include "model/DebugLogger.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

// Debug log on while alive; entries() gives the FILE, ERROR, API and WRITE messages since, as
// "FILE |READ: a.mp3".
class LogCapture {
public:
    LogCapture() { restart(true); }
    ~LogCapture() { restart(false); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList entries() const {
        DebugLogger::shared().flush();
        QFile file(DebugLogger::shared().logFileURL());
        static const QRegularExpression line(
            QStringLiteral("^\\[[^\\]]*\\] \\[(FILE |ERROR|API  |WRITE)\\] (.*)$"));
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QStringList out;
        for (const QString& text : QString::fromUtf8(bytes).split('\n')) {
            if (const QRegularExpressionMatch m = line.match(text); m.hasMatch()) {
                out.append(m.captured(1) + QLatin1Char('|') + m.captured(2));
            }
        }
        return out;
    }

private:
    static void restart(bool enabled) {
        DebugLogger& logger = DebugLogger::shared();
        logger.setEnabled(false);
        logger.clearLog();
        logger.setEnabled(enabled);
        logger.flush();
    }
};
