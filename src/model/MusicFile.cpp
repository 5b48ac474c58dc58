#include "model/MusicFile.h"

#include "model/TextUtil.h"

#include <QFileInfo>

std::optional<int> MusicFile::effectiveYear() const {
    return manualYear ? manualYear : discoveredYear ? discoveredYear : year;
}

std::optional<QString> MusicFile::decadeLabel(const QList<DecadeRule>& rules) const {
    const std::optional<int> first = effectiveYear();
    if (!first) {
        return std::nullopt;
    }
    return decadeLabelForYear(*first, rules);
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
