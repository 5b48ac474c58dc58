#include "services/QueryTextCleaning.h"

#include "model/TextUtil.h"

#include <QList>
#include <QRegularExpression>

namespace {

QRegularExpression compile(const char* pattern) {
    return QRegularExpression(QString::fromUtf8(pattern), QRegularExpression::CaseInsensitiveOption |
                                                              QRegularExpression::UseUnicodePropertiesOption);
}

const QList<QRegularExpression>& bpmPatterns() {
    static const QList<QRegularExpression> patterns = {
        compile(R"(\s*[\(\[]\s*\d{2,3}\s*(?:bpm)?\s*[\)\]]\s*$)"),
        compile(R"(\s+\d{2,3}\s*bpm\s*$)"),
        compile(R"(\s+([6-9]\d|1\d{2}|2[0-5]\d|260)\s*$)"),
    };
    return patterns;
}

// White space as the lookups' patterns see it, plus the blanks trimWs removes.
bool isSpaceChar(QChar c) {
    return c.isSpace() || TextUtil::isBlankOrTab(c);
}

// The end of `text` before `end` with the white space in front of it removed.
qsizetype backOverSpace(const QString& text, qsizetype end) {
    while (end > 0 && isSpaceChar(text.at(end - 1))) {
        --end;
    }
    return end;
}

bool isKeywordGroup(QStringView group) {
    return containsVersionKeyword(group.toString().toLower());
}

// Cuts a group "(…)" (or "[…]") at the end of text[0, end) when it holds a
// version keyword: the group begins at the first opening bracket after the
// previous closing one. Moves `end` before the group and returns true.
bool cutBracketGroup(const QString& text, qsizetype& end, QChar open, QChar close) {
    const qsizetype last = backOverSpace(text, end) - 1;
    if (last < 0 || text.at(last) != close) {
        return false;
    }
    qsizetype groupStart = -1;
    for (qsizetype i = last - 1; i >= 0 && text.at(i) != close; --i) {
        if (text.at(i) == open) {
            groupStart = i;
        }
    }
    if (groupStart < 0 || !isKeywordGroup(QStringView(text).sliced(groupStart + 1, last - groupStart - 1))) {
        return false;
    }
    end = backOverSpace(text, groupStart);
    return true;
}

// Cuts text[0, end) at the first " - " after which the rest holds no line
// break, when that rest holds a version keyword.
bool cutDashPart(const QString& text, qsizetype& end) {
    const qsizetype restEnd = end > 0 && text.at(end - 1) == QLatin1Char('\n') ? end - 1 : end;
    const qsizetype lastBreak = QStringView(text).first(restEnd).lastIndexOf(QLatin1Char('\n'));
    for (qsizetype i = 1; i + 1 < restEnd; ++i) {
        if (text.at(i) != QLatin1Char('-') || !isSpaceChar(text.at(i - 1)) || !isSpaceChar(text.at(i + 1))) {
            continue;
        }
        qsizetype rest = i + 1;
        while (rest < restEnd && isSpaceChar(text.at(rest))) {
            ++rest;
        }
        if (rest <= lastBreak || rest >= restEnd) {
            continue;
        }
        if (!isKeywordGroup(QStringView(text).sliced(rest, restEnd - rest))) {
            return false;
        }
        end = backOverSpace(text, i);
        return true;
    }
    return false;
}

} // namespace

const QStringList& versionKeywords() {
    static const QStringList keywords = {
        // 1-10
        "radio edit",
        "radio-edit",
        "radio version",
        "radio mix",
        "single edit",
        "single version",
        "short edit",
        "short mix",
        "short version",
        "club edit",
        // 11-20
        "club mix",
        "club version",
        "album version",
        "original version",
        "original mix",
        "extended version",
        "extended mix",
        "extended edit",
        "long version",
        "full version",
        // 21-30
        "full mix",
        "clean version",
        "clean edit",
        "english version",
        "deutsche version",
        "french version",
        "remaster",
        "remastered",
        "2k remaster",
        "hd remaster",
        // 31-40
        "live",
        "live version",
        "live at",
        "live from",
        "live recording",
        "acoustic",
        "acoustic version",
        "unplugged",
        "extended",
        "dance mix",
        // 41-47
        "dub mix",
        "remix",
        "remixed",
        "vip mix",
        "vip edit",
        "vip",
        "12\" mix",
        // 48-56
        "7\" mix",
        "bootleg",
        "bootleg mix",
        "bootleg edit",
        "flip",
        "edit flip",
        "re-edit",
        "rework",
        "re-work",
        // 57-66
        "mashup",
        "mash-up",
        "mash up",
        "instrumental",
        "instrumental version",
        "karaoke",
        "demo",
        "demo version",
        "demo recording",
        "bonus",
        // 67-76
        "bonus track",
        "hidden track",
        "b-side",
        "interlude",
        "medley",
        "reprise",
        "mono",
        "stereo",
        "mono mix",
        "stereo mix",
        // 77-86
        "anniversary",
        "anniversary edition",
        "deluxe",
        "deluxe edition",
        "explicit",
        "clean",
        "censored",
        "feat.",
        "ft.",
        "featuring",
        // 87-92
        "intro",
        "outro",
        "skit",
        "edit",
        "version",
        "mix",
    };
    return keywords;
}

bool containsVersionKeyword(const QString& text) {
    for (const QString& keyword : versionKeywords()) {
        if (text.contains(keyword)) {
            return true;
        }
    }
    return false;
}

QString stripBPMSuffix(const QString& title) {
    const QString trimmed = TextUtil::trimWs(title);
    for (const QRegularExpression& pattern : bpmPatterns()) {
        if (!pattern.isValid()) {
            continue;
        }
        const QRegularExpressionMatch match = pattern.match(trimmed);
        if (!match.hasMatch()) {
            continue;
        }
        const QString cut = TextUtil::trimWs(trimmed.left(match.capturedStart(0)));
        if (!cut.isEmpty()) {
            return cut;
        }
    }
    return trimmed;
}

std::optional<QString> stripVersionSuffix(const QString& title) {
    // Each cut only moves the end inwards, so the work is linear in the title.
    const QString text = TextUtil::trimWs(title);
    qsizetype end = text.size();
    bool changed = false;

    bool cutInPass = true;
    while (cutInPass) {
        cutInPass = cutBracketGroup(text, end, QLatin1Char('('), QLatin1Char(')'));
        cutInPass = cutBracketGroup(text, end, QLatin1Char('['), QLatin1Char(']')) || cutInPass;
        changed = changed || cutInPass;
    }
    if (cutDashPart(text, end)) {
        changed = true;
    }

    const QString current = TextUtil::trimWs(text.left(end));
    if (!changed || current.isEmpty() || current == title) {
        return std::nullopt;
    }
    return current;
}

QString limitQueryText(const QString& text) {
    return TextUtil::cut(text, maxQueryTextLength);
}
