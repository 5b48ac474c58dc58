#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Title cleaning for the online lookups. Pure functions, no console output.
// "Trim" here removes blanks, tabs and other Unicode space separators at both
// ends (TextUtil::trimWs); line breaks stay.

// Removes one tempo suffix that DJ libraries append to titles: "Song (128 BPM)",
// "Song [125]", "Song 128bpm", "Song 128" (a bare 60..260). Returns the title
// trimmed when nothing is removed or when the cut would leave nothing.
QString stripBPMSuffix(const QString& title);

// Removes trailing version suffixes: bracket groups at the end that hold a
// version keyword ("Song (Live) [Remastered]"), repeatedly from the end
// inwards, then once everything from the first " - " on when that part holds
// a keyword ("Song - Radio Edit"). Returns no value when nothing was removed,
// when the result is empty, or when it equals the title as passed in.
std::optional<QString> stripVersionSuffix(const QString& title);

// Texts from tags are cut to this many characters before they are cleaned or
// put into a query or prompt.
constexpr qsizetype maxQueryTextLength = 300;
QString limitQueryText(const QString& text);

// True when `text` contains any version keyword as a plain, case-sensitive
// substring; callers lower-case the text first.
bool containsVersionKeyword(const QString& text);

// The 92 lower-case version keywords.
const QStringList& versionKeywords();
