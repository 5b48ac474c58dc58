#pragma once

#include "model/AppError.h"

#include <QString>

#include <optional>
#include <ostream>
#include <string>

// What one year-and-genre read of a file gave, so that a fast read path can be
// compared with its whole-read reference, failures included.
struct ReadOutcome {
    std::optional<int> year;
    std::optional<QString> genre;
    bool failed = false;
    bool operator==(const ReadOutcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const ReadOutcome& o) {
    os << "{year " << (o.year ? std::to_string(*o.year) : std::string("none")) << ", genre "
       << (o.genre ? ("'" + o.genre->toStdString() + "'") : std::string("none"))
       << (o.failed ? ", failed}" : "}");
    return os;
}

// Runs a read; an AppError becomes a failed outcome.
template <typename Read> ReadOutcome outcomeOf(Read&& read) {
    try {
        return read();
    } catch (const AppError&) {
        return ReadOutcome{std::nullopt, std::nullopt, true};
    }
}
