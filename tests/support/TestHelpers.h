#pragma once

#include "model/AppError.h"
#include "model/MusicFile.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <type_traits>

// The time-out (ms) of a wait for what must happen: a minute, far above any normal time on the
// busiest machine, so that only a hang reaches it.
constexpr int hangMs = 60 * 1000;

// Expects `call` to throw an AppError (of `kind` when given) and returns it.
template <typename Call>
std::optional<AppError> expectThrows(std::optional<AppError::Kind> kind, Call&& call) {
    try {
        call();
    } catch (const AppError& error) {
        if (kind) {
            EXPECT_EQ(int(error.kind()), int(*kind)) << error.what();
        }
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected exception: " << other.what();
        return std::nullopt;
    }
    ADD_FAILURE() << "no AppError thrown";
    return std::nullopt;
}

// A row as the scan makes it.
inline MusicFile musicFile(const QString& title, const QString& artist = QStringLiteral("Artist"),
                           std::optional<int> year = std::nullopt, const QString& genre = QString(),
                           const QString& url = QStringLiteral("/music/Disco/track.mp3")) {
    MusicFile file;
    file.id = QUuid::createUuid();
    file.url = url;
    file.title = title;
    file.artist = artist;
    file.year = year;
    file.genre = genre;
    file.format = audioFormatForPath(url);
    return file;
}

// The texts of labels, buttons or actions, in order.
template <typename T> QStringList textsOf(const QList<T*>& items) {
    QStringList out;
    for (const T* item : items) {
        out << item->text();
    }
    return out;
}

// Names each case of a parameterised test after its row (a text, or the row's `name`, `file` or
// `fixture`), each run of characters a test name cannot hold turned into one '_', so that every
// row is a CTest test of its own.
struct RowName {
    template <typename Row> std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        QString text;
        if constexpr (std::is_convertible_v<Row, QString>) {
            text = QString(info.param);
        } else if constexpr (requires { info.param.name; }) {
            text = QString(info.param.name);
        } else if constexpr (requires { info.param.file; }) {
            text = QString(info.param.file);
        } else {
            text = QString(info.param.fixture);
        }
        text.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral(" "));
        return text.trimmed().replace(QLatin1Char(' '), QLatin1Char('_')).toStdString();
    }
};
