#include "services/AIPromptBuilder.h"

#include "services/AIExchange.h"
#include "services/QueryTextCleaning.h"

#include "model/Console.h"
#include "model/DecadeRule.h"
#include "model/TextUtil.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// The optional album line is added when the album holds more than blanks and tabs.
bool hasContent(const QString& text) {
    return !TextUtil::trimWs(text).isEmpty();
}

// A value from a tag or file name as it goes into a prompt line: cut to the
// query length, every control character (line breaks too) made a blank, so
// that it cannot add lines of its own.
QString field(const QString& text) {
    QString out = limitQueryText(text);
    for (QChar& c : out) {
        if (TextUtil::isControl(c)) {
            c = QLatin1Char(' ');
        }
    }
    return out;
}

QStringList songLines(const QString& title, const QString& artist, const std::optional<QString>& album) {
    QStringList lines{QStringLiteral("Song information:"), QStringLiteral("- Title: ") + field(title),
                      QStringLiteral("- Artist: ") + field(artist)};
    if (album && hasContent(field(*album))) {
        lines.append(QStringLiteral("- Album: ") + field(*album));
    }
    return lines;
}

bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == u'\v' || u == u'\f' || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

} // namespace

QString AIPromptBuilder::buildYearPrompt(const QString& title, const QString& artist,
                                         const std::optional<QString>& album, const QString& fileName) {
    return buildYearPrompt(title, artist, album, fileName, QDate::currentDate().year());
}

QString AIPromptBuilder::buildYearPrompt(const QString& title, const QString& artist,
                                         const std::optional<QString>& album, const QString& fileName,
                                         int currentYear) {
    QStringList lines{QStringLiteral("What is the original release year of this song?"), QString()};
    lines += songLines(title, artist, album);
    if (hasContent(field(fileName))) {
        lines.append(QStringLiteral("- Filename: ") + field(fileName));
    }
    lines += QStringList{
        QString(),
        QStringLiteral("Instructions:"),
        QStringLiteral(
            "- Respond with ONLY the 4-digit year (e.g. 1987) or the word \"unknown\" if you are not sure."),
        QStringLiteral("- Do not include any explanation, punctuation, or other text."),
        QStringLiteral("- The year must be between 1900 and ") + QString::number(currentYear) +
            QLatin1Char('.'),
    };
    return lines.join(QLatin1Char('\n'));
}

QString AIPromptBuilder::buildGenrePrompt(const QString& title, const QString& artist,
                                          const std::optional<QString>& album) {
    static const QStringList instructions{
        QString(),
        QStringLiteral("Instructions:"),
        QStringLiteral(
            "- Respond with ONLY the genre name (e.g. \"Pop\", \"Rock\", \"Hip Hop\", \"Electronic\", "
            "\"House\")."),
        QStringLiteral("- Use 1-3 words maximum. No explanation, no punctuation."),
    };
    QStringList lines{QStringLiteral("What is the primary music genre of this song?"), QString()};
    lines += songLines(title, artist, album);
    lines += instructions;
    return lines.join(QLatin1Char('\n'));
}

bool AIPromptBuilder::containsRefusal(const QString& text) {
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("unknown")) || lower.contains(QLatin1String("nicht bekannt")) ||
           lower.contains(QLatin1String("keine"));
}

std::optional<int> AIPromptBuilder::parseYear(const QString& answer) {
    const QString trimmed = TextUtil::trimWsNl(answer);
    if (containsRefusal(trimmed)) {
        return std::nullopt;
    }
    static const QRegularExpression pattern(QStringLiteral("\\b(19\\d{2}|20\\d{2})\\b"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    if (!pattern.isValid()) {
        return std::nullopt;
    }
    std::optional<int> found;
    QRegularExpressionMatchIterator matches = pattern.globalMatch(trimmed);
    for (bool first = true; matches.hasNext(); first = false) {
        bool ok = false;
        const int year = matches.next().captured(1).toInt(&ok);
        if (!ok) {
            // Digits of another script match \d but are no decimal year.
            continue;
        }
        if (!isPlausibleYear(year)) {
            if (first) {
                Console::line(QStringLiteral("[AIPromptBuilder] Parsed year ") + QString::number(year) +
                              QStringLiteral(" is not plausible, ignoring"));
                return std::nullopt;
            }
            continue; // a later number that is no year (a catalogue number, a future date)
        }
        if (found && *found != year) {
            // "The remaster is from 2011, the original from 1978": the user decides.
            Console::line(QStringLiteral("[AIPromptBuilder] Answer names several years, ignoring"));
            return std::nullopt;
        }
        found = year;
    }
    return found;
}

std::optional<QString> AIPromptBuilder::parseGenre(const QString& answer, const QString& responsePrefix) {
    const QString trimmed = TextUtil::trimWsNl(answer);
    Console::line(responsePrefix + QLatin1Char('"') + AIExchange::cutForMessage(trimmed) + QLatin1Char('"'));
    if (containsRefusal(trimmed)) {
        return std::nullopt;
    }
    return checkedGenreName(trimmed);
}

std::optional<QString> AIPromptBuilder::checkedGenreName(const QString& genre) {
    const QString trimmed = TextUtil::trimWsNl(genre);
    // A sentence or several lines is no genre name; it must never reach a
    // file's genre tag or the mapping table.
    const bool hasControl = std::any_of(trimmed.cbegin(), trimmed.cend(),
                                        [](QChar c) { return isLineBreak(c) || TextUtil::isControl(c); });
    if (trimmed.isEmpty() || hasControl || trimmed.toUcs4().size() > maxGenreLength) {
        return std::nullopt;
    }
    return trimmed;
}
