#pragma once

#include <QString>

#include <utility>

// The year a write puts into a tag: usually just the number. To put a tag's
// date back as it was (an undo), it also carries the full date text the tag
// held ("1987-06-01"), which is written in place of the number.
struct TagYear {
    TagYear(int year) : year(year) {} // NOLINT(google-explicit-constructor): a plain year converts
    TagYear(int year, QString dateText) : year(year), dateText(std::move(dateText)) {}

    int year = 0;
    QString dateText; // empty: the number is written

    // What the tag's date gets: the date text, else the year in digits.
    QString text() const { return dateText.isEmpty() ? QString::number(year) : dateText; }
};
