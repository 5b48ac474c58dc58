#pragma once

#include <QString>

#include <ostream>

// Lets GoogleTest print a QString as its UTF-8 text in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
