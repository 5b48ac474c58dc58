#include "tagio/TemporaryFile.h"

#include <QUuid>

#include <gtest/gtest.h>

// A name too long for its hidden copy is shortened to fit 255 bytes, and never inside a UTF-8
// sequence (a cut one is no valid name on file systems that check, and no name to show); every
// cut lands at the last boundary that fits. Each base is 250 bytes, its characters 1 to 4 bytes long.
// Only a name left whole tells the file name back.
TEST(TemporaryFileTest, ShortensLongNamesAtACharacterBoundary) {
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const qsizetype room = TemporaryFile::maxNameBytes - 1 - 5 - uuid.size(); // "." and ".tmp-"
    const struct {
        const char* name;
        QByteArray base;
        qsizetype kept; // bytes of the base in the hidden name
    } cases[] = {
        {"short", "Song.mp3", 8},
        {"ASCII", QByteArray(246, 'n') + ".mp3", room},
        {"two-byte characters", QString(125, QChar(0xFC)).toUtf8(), room - room % 2},
        {"three-byte characters after one byte", "x" + QString(83, QChar(0x20AC)).toUtf8(),
         1 + (room - 1) / 3 * 3},
        {"four-byte characters after two bytes",
         "xy" + QString::fromUcs4(U"\U0001F3B5").toUtf8().repeated(62), 2 + (room - 2) / 4 * 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray name = TemporaryFile::name(c.base, uuid);
        EXPECT_LE(name.size(), TemporaryFile::maxNameBytes);
        EXPECT_EQ(name, "." + c.base.left(c.kept) + ".tmp-" + uuid.toUtf8());
        EXPECT_TRUE(TemporaryFile::isName(name.constData()));
        // A shortened name tells no file name: none is given rather than a wrong one.
        EXPECT_EQ(TemporaryFile::targetOf(name), c.kept == c.base.size() ? c.base : QByteArray());
    }
}
