#pragma once

#include <QString>

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

} // namespace TextUtil
