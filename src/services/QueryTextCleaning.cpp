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

const QList<QRegularExpression>& bracketPatterns() {
    static const QList<QRegularExpression> patterns = {
        compile(R"(\s*\(([^)]*)\)\s*$)"),
        compile(R"(\s*\[([^\]]*)\]\s*$)"),
    };
    return patterns;
}

const QRegularExpression& dashPattern() {
    static const QRegularExpression pattern = compile(R"(\s+-\s+(.+)$)");
    return pattern;
}

// Cuts `text` before the match when group 1 holds a version keyword.
bool cutAtKeywordGroup(const QRegularExpression& pattern, QString& text) {
    if (!pattern.isValid()) {
        return false;
    }
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch() || !containsVersionKeyword(match.captured(1).toLower())) {
        return false;
    }
    text = TextUtil::trimWs(text.left(match.capturedStart(0)));
    return true;
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
    QString current = TextUtil::trimWs(title);
    bool changed = false;

    bool cutInPass = true;
    while (cutInPass) {
        cutInPass = false;
        for (const QRegularExpression& pattern : bracketPatterns()) {
            if (cutAtKeywordGroup(pattern, current)) {
                cutInPass = true;
                changed = true;
            }
        }
    }
    if (cutAtKeywordGroup(dashPattern(), current)) {
        changed = true;
    }

    if (!changed || current.isEmpty() || current == title) {
        return std::nullopt;
    }
    return current;
}
