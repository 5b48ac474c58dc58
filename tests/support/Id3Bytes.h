#pragma once

#include "tagio/Bytes.h"

#include <QByteArray>
#include <QList>
#include <QPair>

#include <optional>

// Byte builders for synthetic ID3v2 tags and AIFF/WAV containers.
namespace Id3Bytes {

inline QByteArray be32(uint32_t v) {
    QByteArray out;
    Bytes::appendU32BE(out, v);
    return out;
}
inline QByteArray le32(uint32_t v) {
    QByteArray out;
    Bytes::appendU32LE(out, v);
    return out;
}
inline QByteArray syncsafe(uint32_t v) {
    return be32(((v & 0x0FE00000) << 3) | ((v & 0x1FC000) << 2) | ((v & 0x3F80) << 1) | (v & 0x7F));
}

// A frame with its body size (big-endian, or syncsafe for ID3v2.4).
inline QByteArray frame(const QByteArray& id, const QByteArray& body, bool syncsafeSize = false,
                        uint8_t status = 0, uint8_t format = 0) {
    return id + (syncsafeSize ? syncsafe(uint32_t(body.size())) : be32(uint32_t(body.size()))) +
           char(status) + char(format) + body;
}
inline QByteArray text(uint8_t encoding, const QByteArray& bytes) {
    return char(encoding) + bytes;
}
// A tag around `body`; its size field is the syncsafe body length unless given.
inline QByteArray tag(int version, const QByteArray& body, uint8_t flags = 0,
                      std::optional<QByteArray> sizeField = std::nullopt) {
    return QByteArray("ID3") + char(version) + char(0) + char(flags) +
           sizeField.value_or(syncsafe(uint32_t(body.size()))) + body;
}

using Chunk = QPair<QByteArray, QByteArray>;
// A RIFF (little-endian sizes) or FORM container.
inline QByteArray container(const QByteArray& magic, const QByteArray& kind, const QList<Chunk>& chunks) {
    const auto size = [&](qsizetype n) { return magic == "RIFF" ? le32(uint32_t(n)) : be32(uint32_t(n)); };
    QByteArray body = kind;
    for (const auto& c : chunks) {
        body += c.first + size(c.second.size()) + c.second + QByteArray(c.second.size() % 2, '\0');
    }
    return magic + size(body.size()) + body;
}
// WAV and AIFF files: a format chunk for 8 kHz mono 8-bit audio, then the given chunks.
inline QByteArray wav(const QList<Chunk>& chunks) {
    const Chunk format{"fmt ", QByteArray::fromHex("01000100401F0000401F000001000800")};
    return container("RIFF", "WAVE", QList<Chunk>{format} + chunks);
}
inline QByteArray aiff(const QList<Chunk>& chunks) {
    const Chunk format{"COMM", QByteArray::fromHex("0001000000010008400BFA00000000000000")};
    return container("FORM", "AIFF", QList<Chunk>{format} + chunks);
}
// Bytes that look like audio (never a tag or container magic).
inline QByteArray audio(int n) {
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i) {
        out[i] = char(0xFF - (i * 7) % 0x40);
    }
    return out;
}

} // namespace Id3Bytes
