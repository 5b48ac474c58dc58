#include "model/TextUtil.h"

#include <QStringDecoder>

#include <QList>

#include <algorithm>
#include <limits>

namespace TextUtil {

bool isBlankOrTab(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimWs(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlankOrTab(text.at(start))) {
        ++start;
    }
    while (end > start && isBlankOrTab(text.at(end - 1))) {
        --end;
    }
    return text.mid(start, end - start);
}

QString trimWsNl(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    auto isWs = [](QChar c) {
        return c.isSpace() || isBlankOrTab(c);
    };
    while (start < end && isWs(text.at(start))) {
        ++start;
    }
    while (end > start && isWs(text.at(end - 1))) {
        --end;
    }
    return text.mid(start, end - start);
}

int compareScalars(const QString& a, const QString& b) {
    const QList<uint> ua = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> ub = b.normalized(QString::NormalizationForm_C).toUcs4();
    const qsizetype n = std::min(ua.size(), ub.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (ua[i] != ub[i]) {
            return ua[i] < ub[i] ? -1 : 1;
        }
    }
    if (ua.size() == ub.size()) {
        return 0;
    }
    return ua.size() < ub.size() ? -1 : 1;
}

bool isControl(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
}

bool isBidiControl(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

bool isInvisibleFormat(QChar c) {
    const char16_t u = c.unicode();
    return isBidiControl(c) || u == 0x061C || (u >= 0x200B && u <= 0x200F) || (u >= 0x2060 && u <= 0x2064) ||
           u == 0xFEFF;
}

QString withoutBidiControls(const QString& text) {
    QString out = text;
    out.removeIf(isBidiControl);
    return out;
}

namespace {

std::optional<QString> decodeStrictly(QByteArrayView bytes, QStringConverter::Flags flags) {
    QStringDecoder decoder(QStringConverter::Utf8, flags);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<QString> strictUtf8(QByteArrayView bytes) {
    return decodeStrictly(bytes, QStringConverter::Flag::Stateless);
}

std::optional<QString> strictUtf8KeepingBom(QByteArrayView bytes) {
    return decodeStrictly(bytes,
                          QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
}

QString withoutTrailingNuls(QString text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QChar(0)) {
        --end;
    }
    text.truncate(end);
    return text;
}

QString escapeControls(const QString& text) {
    const auto escaped = [](QChar c) {
        return isControl(c) || isInvisibleFormat(c);
    };
    if (std::none_of(text.cbegin(), text.cend(), escaped)) {
        return text;
    }
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (!escaped(c)) {
                out += c;
            } else if (c.unicode() > 0xFF) {
                out += QString::asprintf("\\u%04X", unsigned(c.unicode()));
            } else {
                out += QString::asprintf("\\x%02X", unsigned(c.unicode()));
            }
        }
    }
    return out;
}

QString logLine(const QString& text) {
    if (text.size() <= maxLogLineChars) {
        return escapeControls(text);
    }
    return escapeControls(cut(text, maxLogLineChars)) +
           QStringLiteral("… (cut, %1 characters)").arg(text.size());
}

QString cut(const QString& text, qsizetype maxChars) {
    if (text.size() <= maxChars) {
        return text;
    }
    qsizetype end = std::max<qsizetype>(0, maxChars);
    if (end > 0 && text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return text.left(end);
}

std::optional<qint64> parseWholeNumber(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // Accumulate as a negative number so that the smallest value fits.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return std::nullopt;
        }
        const int digit = c.unicode() - '0';
        if (value < (lowest + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

} // namespace TextUtil
