#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstdint>
#include <optional>

// Byte builders for synthetic ID3v2 tags and AIFF/WAV containers in tests.
namespace Id3Bytes {

inline QByteArray be32(uint32_t v) {
    QByteArray out(4, '\0');
    out[0] = char(v >> 24);
    out[1] = char(v >> 16);
    out[2] = char(v >> 8);
    out[3] = char(v);
    return out;
}

inline QByteArray le32(uint32_t v) {
    QByteArray out(4, '\0');
    out[0] = char(v);
    out[1] = char(v >> 8);
    out[2] = char(v >> 16);
    out[3] = char(v >> 24);
    return out;
}

inline QByteArray syncsafe(uint32_t v) {
    QByteArray out(4, '\0');
    out[0] = char((v >> 21) & 0x7F);
    out[1] = char((v >> 14) & 0x7F);
    out[2] = char((v >> 7) & 0x7F);
    out[3] = char(v & 0x7F);
    return out;
}

// A frame with the body size written as given (big-endian unless `syncsafeSize`).
inline QByteArray frame(const QByteArray& id, const QByteArray& body, bool syncsafeSize = false,
                        uint8_t status = 0, uint8_t format = 0) {
    return id + (syncsafeSize ? syncsafe(uint32_t(body.size())) : be32(uint32_t(body.size()))) +
           char(status) + char(format) + body;
}

// A frame whose size field holds `sizeField` exactly, whatever the body.
inline QByteArray frameWithSizeBytes(const QByteArray& id, const QByteArray& sizeField,
                                     const QByteArray& body) {
    return id + sizeField + QByteArray(2, '\0') + body;
}

inline QByteArray text(uint8_t encoding, const QByteArray& bytes) {
    return char(encoding) + bytes;
}

// A tag with the given body (extended header, frames, padding) and a size
// field of `sizeField` (by default the syncsafe body length).
inline QByteArray tag(int version, const QByteArray& body, uint8_t flags = 0,
                      std::optional<QByteArray> sizeField = std::nullopt) {
    return QByteArray("ID3") + char(version) + char(0) + char(flags) +
           sizeField.value_or(syncsafe(uint32_t(body.size()))) + body;
}

using Chunk = QPair<QByteArray, QByteArray>;

inline QByteArray chunk(const QByteArray& id, const QByteArray& body, bool little) {
    QByteArray out = id + (little ? le32(uint32_t(body.size())) : be32(uint32_t(body.size()))) + body;
    if (body.size() % 2) {
        out += '\0';
    }
    return out;
}

inline QByteArray container(const QByteArray& magic, const QByteArray& kind, const QList<Chunk>& chunks,
                            bool little) {
    QByteArray body = kind;
    for (const auto& c : chunks) {
        body += chunk(c.first, c.second, little);
    }
    return magic + (little ? le32(uint32_t(body.size())) : be32(uint32_t(body.size()))) + body;
}

inline QByteArray wav(const QList<Chunk>& chunks) {
    return container("RIFF", "WAVE", chunks, true);
}

inline QByteArray aiff(const QList<Chunk>& chunks) {
    return container("FORM", "AIFF", chunks, false);
}

// Minimal WAV and AIFF format chunks for 8 kHz mono 8-bit audio.
inline QByteArray wavFmt() {
    return QByteArray::fromHex("01000100401F0000401F000001000800");
}
inline QByteArray aiffComm(uint32_t frames) {
    return QByteArray::fromHex("0001") + be32(frames) + QByteArray::fromHex("0008400BFA00000000000000");
}

// Some bytes that look like audio (never a tag or container magic).
inline QByteArray audio(int n) {
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i) {
        out[i] = char(0xFF - (i * 7) % 0x40);
    }
    return out;
}

} // namespace Id3Bytes
