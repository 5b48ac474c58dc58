// Feeds arbitrary bytes to the readers of the lookup answers (MusicBrainz, Discogs, Spotify and
// the AI providers' replies), which take whatever the network delivers.
#include "model/DecadeRule.h"
#include "services/AIExchange.h"
#include "services/AIPromptBuilder.h"
#include "services/DiscogsService.h"
#include "services/MusicBrainzService.h"
#include "services/SpotifyService.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool plausible(const std::optional<int>& year) {
    return !year || isPlausibleYear(*year);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr; // the genre reading prints
    (void)quiet;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    check(plausible(MusicBrainzService::parseRecordings(bytes).year));

    if (const auto hits = DiscogsService::parseSearchResults(bytes); hits && hits->isEmpty()) {
        std::abort(); // a hit list is never empty
    }
    DiscogsService::parseReleaseGenre(bytes);

    if (const auto token = SpotifyService::parseTokenResponse(bytes); token && token->first.isEmpty()) {
        std::abort();
    }
    if (const auto hit = SpotifyService::parseSearchResponse(bytes); hit && hit->year && *hit->year < 1920) {
        std::abort();
    }
    SpotifyService::parseArtistGenre(bytes);

    // Each provider's reply path, and the year and genre read from the text it leads to.
    for (const AIReplyPath path :
         {AIReplyPath::anthropicContent, AIReplyPath::chatChoices, AIReplyPath::generateResponse}) {
        if (const auto text = AIExchange::replyText(bytes, path)) {
            check(plausible(AIPromptBuilder::parseYear(*text)));
            AIPromptBuilder::parseGenre(*text, QStringLiteral("[fuzz] "));
        }
    }

    const QString text = QString::fromUtf8(bytes);
    if (const auto year = SpotifyService::yearFromReleaseDate(text); year && *year < 1920) {
        std::abort();
    }
    SpotifyService::isValidArtistId(text);
    return 0;
}
