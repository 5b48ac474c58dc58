#pragma once

#include "model/AppError.h"
#include "model/MusicFile.h"

#include <QList>
#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>

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
