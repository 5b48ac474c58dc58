#include "model/TextUtil.h"

#include <QList>

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

} // namespace TextUtil
