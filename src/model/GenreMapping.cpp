#include "model/GenreMapping.h"

#include "model/JsonList.h"

#include "model/TextUtil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextBoundaryFinder>

QJsonObject GenreMapping::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QStringLiteral("source"), source);
    object.insert(QStringLiteral("target"), target);
    return object;
}

std::optional<GenreMapping> GenreMapping::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue source = object.value(QStringLiteral("source"));
    const QJsonValue target = object.value(QStringLiteral("target"));
    if (!id.isString() || !source.isString() || !target.isString()) {
        return std::nullopt;
    }
    const QUuid uuid = QUuid::fromString(id.toString());
    if (uuid.isNull() || id.toString().size() != 36) {
        return std::nullopt;
    }
    return GenreMapping{uuid, source.toString(), target.toString()};
}

const QList<GenreMapping>& defaultGenreMappings() {
    static const QList<GenreMapping> mappings = [] {
        // Runs of consecutive rows with the same target; the sources of a run
        // are separated by ", " (no source contains a comma). The comment gives
        // the row numbers of the run.
        const struct {
            const char* target;
            const char* sources;
        } runs[] = {
            {"Electronic", "electronic, electronica, electronics"},                    // 1-3
            {"EDM", "edm, electronic dance music"},                                    // 4-5
            {"Dance", "dance, dance music"},                                           // 6-7
            {"Eurodance", "eurodance, euro dance, euro-dance"},                        // 8-10
            {"Hi-NRG", "hi-nrg, hi nrg, high energy"},                                 // 11-13
            {"Italo Disco", "italo disco, italo-disco, italo"},                        // 14-16
            {"Nu Disco", "nu disco, nu-disco"},                                        // 17-18
            {"Disco", "disco"},                                                        // 19
            {"Rave", "rave"},                                                          // 20
            {"House", "house, house music"},                                           // 21-22
            {"Deep House", "deep house"},                                              // 23
            {"Progressive House", "progressive house"},                                // 24
            {"Tech House", "tech house, tech-house"},                                  // 25-26
            {"Afro House", "afro house, afrohouse"},                                   // 27-28
            {"Minimal House", "minimal house"},                                        // 29
            {"Electro House", "electro house, electrohouse"},                          // 30-31
            {"Tribal House", "tribal house"},                                          // 32
            {"Vocal House", "vocal house"},                                            // 33
            {"Funky House", "funky house"},                                            // 34
            {"Soulful House", "soulful house"},                                        // 35
            {"Chicago House", "chicago house"},                                        // 36
            {"Acid House", "acid house"},                                              // 37
            {"Techno", "techno"},                                                      // 38
            {"Detroit Techno", "detroit techno"},                                      // 39
            {"Minimal Techno", "minimal techno"},                                      // 40
            {"Industrial Techno", "industrial techno"},                                // 41
            {"Acid Techno", "acid techno"},                                            // 42
            {"Hard Techno", "hard techno"},                                            // 43
            {"Melodic Techno", "melodic techno"},                                      // 44
            {"Trance", "trance"},                                                      // 45
            {"Progressive Trance", "progressive trance"},                              // 46
            {"Uplifting Trance", "uplifting trance"},                                  // 47
            {"Psytrance", "psytrance, psy trance, psy-trance, psychedelic trance"},    // 48-51
            {"Vocal Trance", "vocal trance"},                                          // 52
            {"Hard Trance", "hard trance"},                                            // 53
            {"Tech Trance", "tech trance"},                                            // 54
            {"Goa Trance", "goa trance, goa"},                                         // 55-56
            {"Euro Trance", "eurotrance, euro trance"},                                // 57-58
            {"Drum & Bass", "drum and bass, drum & bass, drum'n'bass, dnb, d&b"},      // 59-63
            {"Liquid DnB", "liquid dnb, liquid drum and bass"},                        // 64-65
            {"Neurofunk", "neurofunk"},                                                // 66
            {"Jump Up", "jump up"},                                                    // 67
            {"Jungle", "jungle"},                                                      // 68
            {"Hardcore", "hardcore"},                                                  // 69
            {"Gabber", "gabber"},                                                      // 70
            {"Happy Hardcore", "happy hardcore"},                                      // 71
            {"Hardstyle", "hardstyle"},                                                // 72
            {"Frenchcore", "frenchcore"},                                              // 73
            {"Industrial Hardcore", "industrial hardcore"},                            // 74
            {"Breakbeat", "breakbeat, break beat"},                                    // 75-76
            {"Breaks", "breaks"},                                                      // 77
            {"Nu Skool Breaks", "nu skool breaks"},                                    // 78
            {"Big Beat", "big beat"},                                                  // 79
            {"Dubstep", "dubstep"},                                                    // 80
            {"Future Bass", "future bass"},                                            // 81
            {"Bass Music", "bass music"},                                              // 82
            {"Riddim", "riddim"},                                                      // 83
            {"UK Garage", "uk garage"},                                                // 84
            {"Garage", "garage"},                                                      // 85
            {"2-Step", "2-step, 2 step"},                                              // 86-87
            {"Grime", "grime"},                                                        // 88
            {"Speed Garage", "speed garage"},                                          // 89
            {"Ambient", "ambient"},                                                    // 90
            {"Chillout", "chillout, chill out, chill-out"},                            // 91-93
            {"Downtempo", "downtempo"},                                                // 94
            {"Lounge", "lounge"},                                                      // 95
            {"IDM", "idm, intelligent dance music"},                                   // 96-97
            {"Trip Hop", "trip hop, trip-hop"},                                        // 98-99
            {"Synthpop", "synthpop, synth pop, synth-pop"},                            // 100-102
            {"New Wave", "new wave, new-wave"},                                        // 103-104
            {"Darkwave", "darkwave, dark wave"},                                       // 105-106
            {"EBM", "ebm, electronic body music"},                                     // 107-108
            {"Industrial", "industrial"},                                              // 109
            {"Post-Punk", "post-punk, post punk"},                                     // 110-111
            {"NDW", "neue deutsche welle, ndw"},                                       // 112-113
            {"Electro", "electro"},                                                    // 114
            {"Big Room", "big room"},                                                  // 115
            {"Big Room House", "big room house"},                                      // 116
            {"Big Room", "bigroom, mainstage"},                                        // 117-118
            {"Future House", "future house"},                                          // 119
            {"Tropical House", "tropical house"},                                      // 120
            {"Slap House", "slap house"},                                              // 121
            {"Hip Hop", "hip hop, hip-hop, hiphop"},                                   // 122-124
            {"Rap", "rap"},                                                            // 125
            {"Trap", "trap"},                                                          // 126
            {"Drill", "drill"},                                                        // 127
            {"Boom Bap", "boom bap, boom-bap"},                                        // 128-129
            {"G-Funk", "g-funk"},                                                      // 130
            {"Gangsta Rap", "gangsta rap"},                                            // 131
            {"R&B", "r&b, rnb, rhythm and blues, rhythm & blues"},                     // 132-135
            {"Neo Soul", "neo soul, neo-soul"},                                        // 136-137
            {"Pop", "pop"},                                                            // 138
            {"Dance-Pop", "dance pop, dance-pop"},                                     // 139-140
            {"Electropop", "electropop, electro pop"},                                 // 141-142
            {"Teen Pop", "teen pop"},                                                  // 143
            {"K-Pop", "k-pop, kpop"},                                                  // 144-145
            {"J-Pop", "j-pop, jpop"},                                                  // 146-147
            {"Deutschpop", "deutschpop, deutsch pop"},                                 // 148-149
            {"Schlager", "schlager"},                                                  // 150
            {"Rock", "rock"},                                                          // 151
            {"Classic Rock", "classic rock"},                                          // 152
            {"Hard Rock", "hard rock"},                                                // 153
            {"Alternative Rock", "alternative rock"},                                  // 154
            {"Alternative", "alternative"},                                            // 155
            {"Indie Rock", "indie rock"},                                              // 156
            {"Indie", "indie"},                                                        // 157
            {"Grunge", "grunge"},                                                      // 158
            {"Punk Rock", "punk rock"},                                                // 159
            {"Punk", "punk"},                                                          // 160
            {"Metal", "metal"},                                                        // 161
            {"Heavy Metal", "heavy metal"},                                            // 162
            {"Thrash Metal", "thrash metal"},                                          // 163
            {"Death Metal", "death metal"},                                            // 164
            {"Black Metal", "black metal"},                                            // 165
            {"Nu Metal", "nu metal, nu-metal"},                                        // 166-167
            {"Neue Deutsche Härte", "neue deutsche haerte, neue deutsche härte, ndh"}, // 168-170
            {"Soul", "soul"},                                                          // 171
            {"Funk", "funk"},                                                          // 172
            {"Gospel", "gospel"},                                                      // 173
            {"Motown", "motown"},                                                      // 174
            {"Jazz", "jazz"},                                                          // 175
            {"Smooth Jazz", "smooth jazz"},                                            // 176
            {"Acid Jazz", "acid jazz"},                                                // 177
            {"Nu Jazz", "nu jazz"},                                                    // 178
            {"Blues", "blues"},                                                        // 179
            {"R&B", "rhythm and blues"},                                               // 180
            {"Reggae", "reggae"},                                                      // 181
            {"Dancehall", "dancehall, dance hall"},                                    // 182-183
            {"Ska", "ska"},                                                            // 184
            {"Dub", "dub"},                                                            // 185
            {"Latin", "latin"},                                                        // 186
            {"Reggaeton", "reggaeton"},                                                // 187
            {"Salsa", "salsa"},                                                        // 188
            {"Cumbia", "cumbia"},                                                      // 189
            {"Afrobeat", "afrobeat, afro beat"},                                       // 190-191
            {"World", "world, world music"},                                           // 192-193
            {"Klassik", "classical, classic, klassik"},                                // 194-196
            {"Oper", "opera, oper"},                                                   // 197-198
            {"Orchestral", "orchestral"},                                              // 199
        };
        QList<GenreMapping> list;
        list.reserve(199);
        for (const auto& run : runs) {
            const QString target = QString::fromUtf8(run.target);
            const QStringList sources = QString::fromUtf8(run.sources).split(QStringLiteral(", "));
            for (const QString& source : sources) {
                list.append(GenreMapping{QUuid::createUuid(), source, target});
            }
        }
        return list;
    }();
    return mappings;
}

QByteArray encodeGenreMappings(const QList<GenreMapping>& mappings) {
    return JsonList::encode(mappings);
}

std::optional<QList<GenreMapping>> decodeGenreMappings(const QByteArray& data) {
    return JsonList::decode<GenreMapping>(data);
}

namespace {

// Trim, lower-case, "-" and "_" to blanks; the key without its final trim.
QString untrimmedKey(const QString& genre) {
    QString key = TextUtil::trimWs(genre).toLower();
    key.replace(QLatin1Char('-'), QLatin1Char(' '));
    key.replace(QLatin1Char('_'), QLatin1Char(' '));
    return key;
}

// The trimmed genre with its first user-perceived character upper-cased; the
// upper-case form may be longer than the original ("ß" gives "SS").
QString capitalizedFallback(const QString& genre) {
    const QString trimmed = TextUtil::trimWs(genre);
    if (trimmed.isEmpty()) {
        return trimmed;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
    qsizetype firstEnd = finder.toNextBoundary();
    if (firstEnd <= 0 || firstEnd > trimmed.size()) {
        firstEnd = 1;
    }
    return trimmed.left(firstEnd).toUpper() + trimmed.mid(firstEnd);
}

} // namespace

QString normalizeGenreKey(const QString& genre) {
    return TextUtil::trimWs(untrimmedKey(genre));
}

QString mapGenre(const QString& genre, const QList<GenreMapping>& mappings) {
    const QString key = normalizeGenreKey(genre);
    for (const GenreMapping& mapping : mappings) {
        if (normalizeGenreKey(mapping.source) == key) {
            return mapping.target;
        }
    }
    return capitalizedFallback(genre);
}

bool hasGenreMapping(const QString& genre, const QList<GenreMapping>& mappings) {
    const QString key = untrimmedKey(genre);
    for (const GenreMapping& mapping : mappings) {
        if (normalizeGenreKey(mapping.source) == key) {
            return true;
        }
    }
    return false;
}
