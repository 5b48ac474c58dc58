#pragma once

#include <QByteArray>
#include <QString>

// The addresses of every outside service the program talks to. A default
// constructed Endpoints holds the real services' addresses; every service
// takes one in its constructor, so tests point all of them at a loopback
// server (LoopbackServer::endpoints() in the test support).
//
// Each field is a full address as the service uses it; the services append
// only what their requests add (query items, an id, "/search").
struct Endpoints {
    // MusicBrainz web service v2, recording search.
    QString musicBrainzRecording = QStringLiteral("https://musicbrainz.org/ws/2/recording");
    // Last.fm API root (the closing slash belongs to it).
    QString lastFM = QStringLiteral("https://ws.audioscrobbler.com/2.0/");
    // Discogs API root, no closing slash ("/database/search", "/releases/<id>" follow).
    QString discogs = QStringLiteral("https://api.discogs.com");
    // Spotify client-credentials token endpoint.
    QString spotifyToken = QStringLiteral("https://accounts.spotify.com/api/token");
    // Spotify Web API root, no closing slash ("/search", "/artists/<id>" follow).
    QString spotifyAPI = QStringLiteral("https://api.spotify.com/v1");
    // Anthropic Messages and Models APIs.
    QString anthropicMessages = QStringLiteral("https://api.anthropic.com/v1/messages");
    QString anthropicModels = QStringLiteral("https://api.anthropic.com/v1/models");
    // OpenAI Chat Completions and Models APIs.
    QString openAIChat = QStringLiteral("https://api.openai.com/v1/chat/completions");
    QString openAIModels = QStringLiteral("https://api.openai.com/v1/models");
    // The product's version feed.
    QString updateFeed = QStringLiteral("https://" VELMORA_WEB_DOMAIN "/downloads/version.json");
    // The Linux release archive that "Download" opens in the browser.
    QString updateDownload = QStringLiteral("https://" VELMORA_WEB_DOMAIN "/downloads/Velmora-Linux.tar.gz");

    // The product's bare web domain (a build setting, VELMORA_WEB_DOMAIN).
    static QString webDomain();

    // User-Agent texts:
    // "Velmora/1.0" (Last.fm)
    static QByteArray userAgent();
    // "Velmora/1.0 (<domain>)" (MusicBrainz)
    static QByteArray userAgentWithContact();
    // "Velmora/1.0 +https://<domain>" (Discogs, Spotify)
    static QByteArray userAgentWithSite();
};
