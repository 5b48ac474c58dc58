#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// Collects what the code under test writes to standard output (console lines)
// from construction until lines() is first called.
//
//     ConsoleCapture console;
//     service.lookup(...);
//     EXPECT_EQ(console.lines(), QStringList{"[X] ..."});
class ConsoleCapture {
public:
    ConsoleCapture() { testing::internal::CaptureStdout(); }
    ~ConsoleCapture() { finish(); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // The lines written, without their line breaks.
    QStringList lines() {
        finish();
        return QString::fromUtf8(m_text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString text() {
        finish();
        return QString::fromUtf8(m_text);
    }

private:
    void finish() {
        if (m_capturing) {
            m_capturing = false;
            m_text = QByteArray::fromStdString(testing::internal::GetCapturedStdout());
        }
    }

    bool m_capturing = true;
    QByteArray m_text;
};
