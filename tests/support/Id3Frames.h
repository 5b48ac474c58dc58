#pragma once

#include "tagio/id3/ID3v2Frames.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>
#include <variant>

// Looks into an ID3v2 tag held whole in memory with the product's own frame
// walker and text rules: the in-memory answer that the bounded file reads
// are held to. Header only, so that the fuzzers can use it too.
namespace Id3Frames {

// The decoded text of the first non-empty frame whose ID is in `ids`;
// no value when none is found or its text cannot be decoded.
inline std::optional<QString> findTextFrame(const QSet<QByteArray>& ids, const QByteArray& tag) {
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return std::nullopt;
    }
    id3v2::FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        if (frame->size != 0 && ids.contains(frame->id)) {
            return id3v2::frameText(*frame, walker.version(), walker.flags());
        }
    }
    return std::nullopt;
}

// The decoded text of the first decodable TCON frame.
inline std::optional<QString> findGenreFrame(const QByteArray& tag) {
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return std::nullopt;
    }
    id3v2::FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        if (frame->size == 0 || frame->id != QByteArrayLiteral("TCON")) {
            continue;
        }
        if (auto text = id3v2::frameText(*frame, walker.version(), walker.flags())) {
            return text;
        }
    }
    return std::nullopt;
}

// A frame in ID3v2.3 form: flag bytes with their v2.3 meaning, body
// without unsynchronisation or data-length indicator.
struct Frame {
    QByteArray id;
    uint8_t status = 0;
    uint8_t format = 0;
    QByteArray body;
    bool operator==(const Frame&) const = default;
};

// The frames of a tag in ID3v2.3 form, in order, up to where the walk
// stops; frames that cannot be converted (compressed or encrypted ID3v2.4
// frames) are left out.
inline QList<Frame> listFrames(const QByteArray& tag) {
    QList<Frame> frames;
    if (tag.size() < 10 || !tag.startsWith("ID3")) {
        return frames;
    }
    id3v2::FrameWalker walker(tag);
    while (const auto frame = walker.next()) {
        const auto converted = id3v2::toV23(*frame, walker.version(), walker.flags());
        if (const auto* v23 = std::get_if<id3v2::V23Frame>(&converted)) {
            frames.append(Frame{frame->id, v23->status, v23->format, v23->body});
        }
    }
    return frames;
}

} // namespace Id3Frames
