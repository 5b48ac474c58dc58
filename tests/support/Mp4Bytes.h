#pragma once

#include <QByteArray>

#include <cstdint>

// Byte builders for synthetic MP4 files.
namespace Mp4Bytes {

inline const QByteArray kGen = QByteArray("\xA9") + "gen";
inline const QByteArray kDay = QByteArray("\xA9") + "day";

inline QByteArray u32(uint32_t v) {
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}
inline QByteArray atom(const QByteArray& type, const QByteArray& payload) {
    return u32(uint32_t(payload.size() + 8)) + type + payload;
}
// The 64-bit size form (32-bit size 1).
inline QByteArray atom64(const QByteArray& type, const QByteArray& payload) {
    const uint64_t size = uint64_t(payload.size()) + 16;
    return u32(1) + type + u32(uint32_t(size >> 32)) + u32(uint32_t(size)) + payload;
}
inline QByteArray dataAtom(const QByteArray& payload, uint32_t kind = 1) {
    return atom("data", u32(kind) + u32(0) + payload);
}
inline QByteArray textItem(const QByteArray& key, const QByteArray& utf8) {
    return atom(key, dataAtom(utf8));
}
inline QByteArray genreNumberItem(uint16_t n) {
    return atom("gnre", dataAtom(QByteArray(1, char(n >> 8)) + QByteArray(1, char(n & 0xFF)), 0));
}
// An iTunes-style meta (version and flags before the children).
inline QByteArray fullMeta(const QByteArray& children) {
    return atom("meta", u32(0) + children);
}
inline QByteArray ftyp() {
    return atom("ftyp", QByteArray("M4A ") + u32(0) + "M4A isom");
}
// ftyp + moov/udta/meta/ilst holding `items`.
inline QByteArray fileWithItems(const QByteArray& items) {
    return ftyp() + atom("moov", atom("udta", fullMeta(atom("ilst", items))));
}

} // namespace Mp4Bytes
