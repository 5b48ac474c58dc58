#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// Collects what the code under test writes to standard output from
// construction until lines() or text() is first called.
class ConsoleCapture {
public:
    ConsoleCapture() { testing::internal::CaptureStdout(); }
    ~ConsoleCapture() { text(); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    QStringList lines() { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QString text() {
        if (m_capturing) {
            m_capturing = false;
            m_text = QString::fromStdString(testing::internal::GetCapturedStdout());
        }
        return m_text;
    }

private:
    bool m_capturing = true;
    QString m_text;
};
