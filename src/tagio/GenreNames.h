#pragma once

#include "tagio/MediaAsset.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The ID3v1 genre names and the genre resolution over media metadata items.

// The 192 names of the ID3v1 genre list with its Winamp extensions; the
// position of a name (from 0) is its genre number.
const QStringList& extendedGenreNames();

// The first 80 names of that list: the genres of the original ID3v1 standard.
const QStringList& id3v1GenreNames();

// The name at position n of the list, or no value when n is outside it.
std::optional<QString> genreNameForNumber(qint64 n, const QStringList& names);

// Trims the text and replaces every numeric reference "(n)" in it, from the
// left, by the name of genre n (or by nothing when n names no genre).
QString normalizeGenre(const QString& genre, const QStringList& names);

// The genre of a file from its metadata items, tried in this order: a common
// type item, an ID3 "TCON" frame, an iTunes "©gen" item, an iTunes "gnre"
// number (counted from 1) and a user-data "GENRE" item. The empty text means
// no genre.
QString resolveGenre(const QList<MediaAsset::Item>& commonItems, const QList<MediaAsset::Item>& metadataItems,
                     const QStringList& names);
