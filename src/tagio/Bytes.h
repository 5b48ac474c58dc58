#pragma once

#include <QByteArray>

#include <cstdint>

// Bounds-checked byte helpers for the tag handlers. A read whose bytes do not
// all lie inside the buffer gives 0; offsets are 64-bit and never overflow.
namespace Bytes {

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
inline bool fits(qint64 size, qint64 offset, qint64 length) {
    return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
}

inline uint8_t u8(const QByteArray& b, qint64 off) {
    return fits(b.size(), off, 1) ? static_cast<uint8_t>(b[off]) : 0;
}

inline uint32_t u16BE(const QByteArray& b, qint64 off) {
    if (!fits(b.size(), off, 2)) {
        return 0;
    }
    return (uint32_t(uint8_t(b[off])) << 8) | uint32_t(uint8_t(b[off + 1]));
}

inline uint32_t u24BE(const QByteArray& b, qint64 off) {
    if (!fits(b.size(), off, 3)) {
        return 0;
    }
    return (uint32_t(uint8_t(b[off])) << 16) | (uint32_t(uint8_t(b[off + 1])) << 8) |
           uint32_t(uint8_t(b[off + 2]));
}

inline uint32_t u32BE(const QByteArray& b, qint64 off) {
    if (!fits(b.size(), off, 4)) {
        return 0;
    }
    return (uint32_t(uint8_t(b[off])) << 24) | (uint32_t(uint8_t(b[off + 1])) << 16) |
           (uint32_t(uint8_t(b[off + 2])) << 8) | uint32_t(uint8_t(b[off + 3]));
}

inline uint32_t u32LE(const QByteArray& b, qint64 off) {
    if (!fits(b.size(), off, 4)) {
        return 0;
    }
    return (uint32_t(uint8_t(b[off + 3])) << 24) | (uint32_t(uint8_t(b[off + 2])) << 16) |
           (uint32_t(uint8_t(b[off + 1])) << 8) | uint32_t(uint8_t(b[off]));
}

inline uint64_t u64BE(const QByteArray& b, qint64 off) {
    if (!fits(b.size(), off, 8)) {
        return 0;
    }
    return (uint64_t(u32BE(b, off)) << 32) | uint64_t(u32BE(b, off + 4));
}

inline void appendU24BE(QByteArray& out, uint32_t v) {
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char(v & 0xFF));
}

inline void appendU32BE(QByteArray& out, uint32_t v) {
    out.append(char((v >> 24) & 0xFF));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char(v & 0xFF));
}

inline void appendU32LE(QByteArray& out, uint32_t v) {
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 24) & 0xFF));
}

inline void putU32BE(QByteArray& b, qint64 off, uint32_t v) {
    if (!fits(b.size(), off, 4)) {
        return;
    }
    b[off] = char((v >> 24) & 0xFF);
    b[off + 1] = char((v >> 16) & 0xFF);
    b[off + 2] = char((v >> 8) & 0xFF);
    b[off + 3] = char(v & 0xFF);
}

inline void putU64BE(QByteArray& b, qint64 off, uint64_t v) {
    putU32BE(b, off, uint32_t(v >> 32));
    putU32BE(b, off + 4, uint32_t(v & 0xFFFFFFFFu));
}

} // namespace Bytes
