#include "tagio/GenreNames.h"

#include "model/TextUtil.h"

#include <functional>

const QStringList& extendedGenreNames() {
    // clang-format off
    static const QStringList names = {
        // ID3v1 (0-79)
        "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk",
        "Grunge", "Hip-Hop", "Jazz", "Metal", "New Age", "Oldies",
        "Other", "Pop", "R&B", "Rap", "Reggae", "Rock",
        "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks",
        "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz-Funk",
        "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House",
        "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass",
        "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
        "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
        "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta",
        "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret",
        "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
        "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
        "Rock & Roll", "Hard Rock",
        // Winamp extensions (80-191)
        "Folk", "Folk Rock", "National Folk", "Swing",
        "Fast Fusion", "Bebop", "Latin", "Revival", "Celtic", "Bluegrass",
        "Avant-garde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
        "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech",
        "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass",
        "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango",
        "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle",
        "Duet", "Punk Rock", "Drum Solo", "A Cappella", "Euro-House", "Dancehall",
        "Goa", "Drum & Bass", "Club-House", "Hardcore Techno", "Terror", "Indie",
        "Britpop", "Worldbeat", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
        "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
        "Thrash Metal", "Anime", "Jpop", "Synthpop", "Abstract", "Art Rock",
        "Baroque", "Bhangra", "Big Beat", "Breakbeat", "Chillout", "Downtempo",
        "Dub", "EBM", "Eclectic", "Electro", "Electroclash", "Emo",
        "Experimental", "Garage", "Global", "IDM", "Illbient", "Industro-Goth",
        "Jam Band", "Krautrock", "Leftfield", "Lounge", "Math Rock", "New Romantic",
        "Nu-Breakz", "Post-Punk", "Post-Rock", "Psytrance", "Shoegaze", "Space Rock",
        "Trop Rock", "World Music", "Neoclassical", "Audiobook", "Audio Theatre", "Neue Deutsche Welle",
        "Podcast", "Indie Rock", "G-Funk", "Dubstep", "Garage Rock", "Psybient",
    };
    // clang-format on
    return names;
}

const QStringList& id3v1GenreNames() {
    static const QStringList names = extendedGenreNames().mid(0, 80);
    return names;
}

std::optional<QString> genreNameForNumber(qint64 n, const QStringList& names) {
    if (n < 0 || n >= names.size()) {
        return std::nullopt;
    }
    return names.at(n);
}

QString normalizeGenre(const QString& genre, const QStringList& names) {
    // One pass from the left. `out` never holds a complete reference: a ")"
    // that closes "(digits" at its end replaces that reference by its name at
    // once. A reference replaced by nothing may join its neighbours into a new
    // one ("(1(99)2)" gives "(12)"), which the same rule then resolves.
    const QString text = TextUtil::trimWsNl(genre);
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char(')')) {
            qsizetype open = out.size();
            while (open > 0 && out.at(open - 1) >= QLatin1Char('0') && out.at(open - 1) <= QLatin1Char('9')) {
                --open;
            }
            if (open > 0 && open < out.size() && out.at(open - 1) == QLatin1Char('(')) {
                bool ok = false;
                const qint64 n = QStringView(out).sliced(open).toLongLong(&ok);
                out.truncate(open - 1);
                out += ok ? genreNameForNumber(n, names).value_or(QString()) : QString();
                continue;
            }
        }
        out += c;
    }
    return TextUtil::trimWsNl(out);
}

namespace {

using Item = MediaAsset::Item;

QList<const Item*> select(const QList<Item>& items, const std::function<bool(const Item&)>& matches) {
    QList<const Item*> out;
    for (const Item& item : items) {
        if (matches(item)) {
            out.append(&item);
        }
    }
    return out;
}

bool inSpaceWithKey(const Item& item, const QString& space, std::initializer_list<QString> keys) {
    if (!item.keySpace || *item.keySpace != space || !item.key) {
        return false;
    }
    return std::find(keys.begin(), keys.end(), *item.key) != keys.end();
}

// Text rule: the first item whose text normalises to a non-empty genre.
std::optional<QString> textRule(const QList<const Item*>& items, const QStringList& names) {
    for (const Item* item : items) {
        if (!item->stringValue || item->stringValue->isEmpty()) {
            continue;
        }
        const QString genre = normalizeGenre(*item->stringValue, names);
        if (!genre.isEmpty()) {
            return genre;
        }
    }
    return std::nullopt;
}

// Final text rule: the first item with a text decides, even when it normalises to nothing.
std::optional<QString> finalTextRule(const QList<const Item*>& items, const QStringList& names) {
    for (const Item* item : items) {
        if (item->stringValue && !item->stringValue->isEmpty()) {
            return normalizeGenre(*item->stringValue, names);
        }
    }
    return std::nullopt;
}

// Number rule: a text decides like the final rule; otherwise a number n from
// 1 to the list's length names entry n - 1.
std::optional<QString> numberRule(const QList<const Item*>& items, const QStringList& names) {
    for (const Item* item : items) {
        if (item->stringValue && !item->stringValue->isEmpty()) {
            return normalizeGenre(*item->stringValue, names);
        }
        if (item->numberValue && *item->numberValue >= 1 && *item->numberValue <= names.size()) {
            return names.at(*item->numberValue - 1);
        }
    }
    return std::nullopt;
}

} // namespace

QString resolveGenre(const QList<Item>& commonItems, const QList<Item>& metadataItems,
                     const QStringList& names) {
    const QList<const Item*> type = select(commonItems, [](const Item& item) {
        return item.commonKey && *item.commonKey == MediaAsset::commonKeyType;
    });
    if (auto genre = textRule(type, names)) {
        return *genre;
    }
    const QList<const Item*> tcon = select(metadataItems, [](const Item& item) {
        return inSpaceWithKey(item, MediaAsset::keySpaceID3, {QStringLiteral("TCON")});
    });
    if (auto genre = textRule(tcon, names)) {
        return *genre;
    }
    const QList<const Item*> gen = select(metadataItems, [](const Item& item) {
        return inSpaceWithKey(item, MediaAsset::keySpaceiTunes,
                              {QStringLiteral("\u00A9gen"), QStringLiteral("@\u00A9gen")});
    });
    if (auto genre = textRule(gen, names)) {
        return *genre;
    }
    const QList<const Item*> gnre = select(metadataItems, [](const Item& item) {
        return inSpaceWithKey(item, MediaAsset::keySpaceiTunes, {QStringLiteral("gnre")});
    });
    if (auto genre = numberRule(gnre, names)) {
        return *genre;
    }
    const QList<const Item*> userData = select(metadataItems, [](const Item& item) {
        return item.keySpace && *item.keySpace == MediaAsset::keySpaceISOUserData && item.key &&
               item.key->toUpper() == QLatin1String("GENRE");
    });
    return finalTextRule(userData, names).value_or(QString());
}
