#pragma once

// Shared by the reading and the writing side of the MP4 handler and by the
// media layer's MP4 reader: atom types, the atom size rules and the lookups
// they use.

#include "tagio/mp4/MP4Handler.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace mp4 {

inline constexpr qint64 kMax32 = 0xFFFFFFFFLL;

// The four type bytes at `offset` as Latin-1 ("????" when they do not fit).
QString typeText(const QByteArray& bytes, qint64 offset);
// The four type bytes of a type name.
QByteArray typeBytes(const QString& type);

inline const QString kMoov = QStringLiteral("moov");
inline const QString kUdta = QStringLiteral("udta");
inline const QString kMeta = QStringLiteral("meta");
inline const QString kIlst = QStringLiteral("ilst");
inline const QString kHdlr = QStringLiteral("hdlr");
inline const QString kMdat = QStringLiteral("mdat");
inline const QString kGen = QStringLiteral("\u00A9gen");
inline const QString kGnre = QStringLiteral("gnre");
inline const QString kDay = QStringLiteral("\u00A9day");
inline const QString kNam = QStringLiteral("\u00A9nam");
inline const QString kArt = QStringLiteral("\u00A9ART");

// Length and header length of the atom whose header starts at `offset` of
// `bytes`, with `remaining` bytes left at its level: size 1 means a 64-bit
// size follows (when there is room for it), size 0 means "to the end". A
// length below the header length marks no atom.
struct AtomExtent {
    uint64_t length = 0;
    int headerLength = 8;
    bool toEnd = false;
};

AtomExtent atomExtent(const QByteArray& bytes, qint64 offset, qint64 remaining);

const MP4Handler::Atom* firstChild(const QList<MP4Handler::Atom>& atoms, const QString& type);

// An item of the item list read alone, as the item readers
// (MP4Handler::readItemText, readGenreNumber) take it: its bytes, and its
// atom with offsets into them.
struct ItemImage {
    QByteArray bytes;
    MP4Handler::Atom atom;
};

ItemImage itemImage(QByteArray bytes, const QString& type, int headerLength);

} // namespace mp4
