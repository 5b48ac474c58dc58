#include "model/MusicFile.h"

#include "model/AppSettings.h"
#include "model/TextUtil.h"

#include <QFileInfo>

int MusicFile::effectiveYear() const {
    if (manualYear) {
        return *manualYear;
    }
    if (discoveredYear) {
        return *discoveredYear;
    }
    if (year) {
        return *year;
    }
    return -1;
}

std::optional<QString> MusicFile::decadeLabel(const QList<DecadeRule>& rules) const {
    const std::optional<int> first = manualYear ? manualYear : (discoveredYear ? discoveredYear : year);
    if (!first) {
        return std::nullopt;
    }
    return decadeLabelForYear(*first, rules);
}

std::optional<QString> MusicFile::decadeLabel() const {
    return decadeLabel(AppSettings::snapshot()->decadeRules);
}

QString MusicFile::decadeSortKey() const {
    return decadeLabel().value_or(QString());
}

QString MusicFile::directoryPath() const {
    return QFileInfo(url).path();
}

bool MusicFile::alreadyHasDecade(const QList<DecadeRule>& rules) const {
    if (!containsDecadeLabel(genre, rules)) {
        return false;
    }
    if (year) {
        return true;
    }
    QString rest = genre;
    for (const DecadeRule& rule : rules) {
        if (isUsableDecadeLabel(rule.label)) {
            rest.remove(rule.label, Qt::CaseSensitive);
        }
    }
    return !TextUtil::trimWs(rest).isEmpty();
}

bool MusicFile::alreadyHasDecade() const {
    return alreadyHasDecade(AppSettings::snapshot()->decadeRules);
}
