#include "LogCapture.h"

#include "model/DebugLogger.h"

#include <QFile>
#include <QRegularExpression>

LogCapture::LogCapture() {
    DebugLogger& logger = DebugLogger::shared();
    logger.setEnabled(false);
    logger.clearLog();
    logger.setEnabled(true);
    logger.flush();
}

LogCapture::~LogCapture() {
    DebugLogger& logger = DebugLogger::shared();
    logger.setEnabled(false);
    logger.clearLog();
    logger.flush();
}

QStringList LogCapture::entries() const {
    DebugLogger& logger = DebugLogger::shared();
    logger.flush();
    QFile file(logger.logFileURL());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    static const QRegularExpression line(QStringLiteral("^\\[[^\\]]*\\] \\[(FILE |ERROR|API  )\\] (.*)$"));
    QStringList out;
    for (const QString& text : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch()) {
            out.append(m.captured(1) + QLatin1Char('|') + m.captured(2));
        }
    }
    return out;
}
