// Feeds arbitrary bytes to the readers of the Discogs and Spotify answers,
// which take whatever the network delivers.
#include "services/DiscogsService.h"
#include "services/SpotifyService.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

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

    const QString text = QString::fromUtf8(bytes);
    if (const auto year = SpotifyService::yearFromReleaseDate(text); year && *year < 1920) {
        std::abort();
    }
    SpotifyService::isValidArtistId(text);
    return 0;
}
