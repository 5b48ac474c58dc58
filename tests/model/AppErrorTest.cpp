#include "model/AppError.h"
#include "model/AudioFormat.h"
#include "model/ProcessingStatus.h"

#include <gtest/gtest.h>

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
