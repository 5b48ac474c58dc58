#pragma once

#include <QString>

#include <utility>

// The year a write puts into a tag: usually just the number. To put a tag's
// date back as it was (an undo), it also carries the full date text the tag
// held ("1987-06-01"), which is written in place of the number, or says that
// the tag held no date, so that the write removes the date.
struct TagYear {
    TagYear(int year) : year(year) {} // NOLINT(google-explicit-constructor): a plain year converts
    TagYear(int year, QString dateText) : year(year), dateText(std::move(dateText)) {}
    static TagYear noDate() {
        TagYear none(0);
        none.removesDate = true;
        return none;
    }

    int year = 0;
    QString dateText;         // empty: the number is written
    bool removesDate = false; // the date goes; year and dateText are not used

    // What the tag's date gets: the date text, else the year in digits; nothing for noDate().
    QString text() const {
        return removesDate ? QString() : dateText.isEmpty() ? QString::number(year) : dateText;
    }
};
