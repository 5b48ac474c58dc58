#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// Trimming rules shared by the whole program.
namespace TextUtil {

// Removes blanks, tabs and the other Unicode space separators from both ends;
// line breaks stay.
QString trimWs(const QString& text);

// Removes white space and line breaks from both ends.
QString trimWsNl(const QString& text);

// True for a tab or a Unicode space separator (category Zs).
bool isBlankOrTab(QChar c);

// Compares two texts by their Unicode scalar values (after NFC), so that
// characters outside the BMP sort by code point, not by UTF-16 unit.
int compareScalars(const QString& a, const QString& b);

// True for a control character (C0, DEL, C1) or a Unicode line or paragraph separator.
bool isControl(QChar c);

// True for an invisible character that changes how the text around it is
// shown: the bidirectional embedding, override and isolate controls
// (U+202A-U+202E, U+2066-U+2069), the direction marks (U+061C, U+200E, U+200F)
// and the zero-width characters (U+200B-U+200D, U+2060-U+2064, U+FEFF).
bool isInvisibleFormat(QChar c);

// True for a bidirectional embedding, override or isolate control
// (U+202A-U+202E, U+2066-U+2069): one of them left in a tag makes players
// show the text after it reversed.
bool isBidiControl(QChar c);

// The text without its bidirectional embedding, override and isolate controls.
QString withoutBidiControls(const QString& text);

// The text without the NULs at its very end: tagging tools write one after a
// value as a terminator, which is no part of the value. NULs between values stay.
QString withoutTrailingNuls(QString text);

// UTF-8 decoded strictly: no value for malformed or truncated sequences.
// The first drops a leading byte order mark; the second keeps it as a
// character, so that a text written back round-trips.
std::optional<QString> strictUtf8(QByteArrayView bytes);
std::optional<QString> strictUtf8KeepingBom(QByteArrayView bytes);

// The text with every control character written out, so that a value from a
// file or a server can never start a line of its own: "\n", "\r", "\t",
// "\xNN" for the other C0/C1 characters and DEL, "\u2028"/"\u2029"; the
// invisible formatting characters (isInvisibleFormat) as "\uNNNN", so that
// they cannot reorder or hide what a log line shows.
QString escapeControls(const QString& text);

// A log or console line as it is written: cut to maxLogLineChars characters
// (a hint with the full length appended when cut), then escapeControls.
QString logLine(const QString& text);
constexpr qsizetype maxLogLineChars = 2000;

// The first `maxChars` UTF-16 units of the text, without splitting a surrogate pair.
QString cut(const QString& text, qsizetype maxChars);

// A whole decimal number: an optional leading "+" or "-", then ASCII digits
// only; none for anything else, including a value beyond 64 bits.
std::optional<qint64> parseWholeNumber(const QString& text);

} // namespace TextUtil
