#pragma once

// The FLAC structures shared by the tag handler (FLACHandler) and the media
// layer's reader: the metadata block header and the entry list of a Vorbis
// comment body. Both only decode what they are given; what a reader does
// with a block or an entry (its own caps, its own text rules) stays with it.

#include "tagio/Bytes.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace flac {

// A metadata block header: four bytes before each block body.
struct BlockHeader {
    bool isLast = false; // bit 7 of the first byte
    uint8_t type = 0;    // its low 7 bits
    qint64 length = 0;   // of the body (24 bits, so below 2^24)
};

inline BlockHeader blockHeader(const QByteArray& header) {
    const uint8_t first = Bytes::u8(header, 0);
    return BlockHeader{(first & 0x80) != 0, uint8_t(first & 0x7F), qint64(Bytes::u24BE(header, 1))};
}

// A Vorbis comment body: a vendor string and an entry count, then the
// entries, each a length and that many bytes of text (lengths and count are
// 32-bit little-endian).
struct CommentEntries {
    qint64 count = 0; // as the body declares it; the body may hold fewer
    qint64 first = 0; // offset of the first entry's length
};

// No value when the body is too short to hold the vendor string and the count.
inline std::optional<CommentEntries> commentEntries(const QByteArray& body) {
    const qint64 vendorLength = Bytes::u32LE(body, 0);
    if (body.size() < 8 || vendorLength > body.size() - 8) {
        return std::nullopt;
    }
    return CommentEntries{qint64(Bytes::u32LE(body, vendorLength + 4)), vendorLength + 8};
}

// Calls visit(start, length) for the entries in order, `start` being the
// offset of an entry's text, and stops after `count` entries or at the first
// that does not lie wholly in the body. Every entry takes at least its four
// length bytes, so the walk ends at the end of the body whatever the count.
template <typename Visit>
void forEachCommentEntry(const QByteArray& body, const CommentEntries& entries, Visit&& visit) {
    const qint64 size = body.size();
    qint64 pos = entries.first;
    for (qint64 n = 0; n < entries.count; ++n) {
        if (!Bytes::fits(size, pos, 4)) {
            return;
        }
        const qint64 length = Bytes::u32LE(body, pos);
        const qint64 start = pos + 4;
        if (!Bytes::fits(size, start, length)) {
            return;
        }
        pos = start + length;
        visit(start, length);
    }
}

} // namespace flac
