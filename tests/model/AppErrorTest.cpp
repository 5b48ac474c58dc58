#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "model/ProcessingStatus.h"

#include <gtest/gtest.h>

TEST(AppError, GermanDescriptionsNameTheFile) {
    EXPECT_EQ(AppError::tagWriteFailed("/music/x/b.mp3", "kaputt").errorDescription(),
              QStringLiteral("Tags konnten nicht geschrieben werden [b.mp3]: kaputt"));
    EXPECT_EQ(AppError::tagReadFailed("/music/a.flac", "weg").errorDescription(),
              QStringLiteral("Tags konnten nicht gelesen werden [a.flac]: weg"));
    EXPECT_EQ(AppError::fileNotFound("/music/folder/").errorDescription(),
              QStringLiteral("Datei nicht gefunden: folder"));
    EXPECT_EQ(AppError::unsupportedFormat("ogg").errorDescription(),
              QStringLiteral("Nicht unterstütztes Format: ogg"));
    EXPECT_EQ(AppError::networkError("x").errorDescription(), QStringLiteral("Netzwerkfehler: x"));
    EXPECT_EQ(AppError::aiError("y").errorDescription(), QStringLiteral("KI-Fehler: y"));
    EXPECT_EQ(AppError::cancelled().errorDescription(), QStringLiteral("Vorgang abgebrochen"));
    EXPECT_STREQ(AppError::cancelled().what(), "Vorgang abgebrochen");
}

TEST(AudioFormat, RawValuesAreExactAndCaseSensitive) {
    EXPECT_FALSE(audioFormatFromRawValue("MP3").has_value());
    EXPECT_EQ(audioFormatFromRawValue(""), AudioFormat::unknown);
    EXPECT_EQ(audioFormatFromRawValue("aif"), AudioFormat::aif);
    EXPECT_EQ(audioFormatForPath("/a/Song.MP3"), AudioFormat::mp3);
    EXPECT_EQ(audioFormatForPath("/a/Song"), AudioFormat::unknown);
    EXPECT_EQ(audioFormatForPath("/a/Song.txt"), AudioFormat::unknown);
    EXPECT_EQ(supportedExtensions().size(), 10);
    EXPECT_FALSE(supportedExtensions().contains(""));
    int writable = 0;
    for (AudioFormat format : allAudioFormats()) {
        writable += isWritableFormat(format) ? 1 : 0;
    }
    EXPECT_EQ(writable, 7);
    EXPECT_FALSE(isWritableFormat(AudioFormat::ogg));
    EXPECT_FALSE(isWritableFormat(AudioFormat::unknown));
}

TEST(ProcessingStatus, EqualityComparesPayloads) {
    EXPECT_EQ(ProcessingStatus::yearFound(1987), ProcessingStatus::yearFound(1987));
    EXPECT_NE(ProcessingStatus::yearFound(1987), ProcessingStatus::yearFound(1988));
    EXPECT_NE(ProcessingStatus::error("a"), ProcessingStatus::error("b"));
    EXPECT_NE(ProcessingStatus::pending(), ProcessingStatus::lookingUp());
    EXPECT_EQ(ProcessingStatus(), ProcessingStatus::pending());
}
