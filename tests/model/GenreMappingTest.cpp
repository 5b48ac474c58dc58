#include "model/GenreMapping.h"

#include "QtPrinters.h"

#include <QHash>
#include <QJsonDocument>
#include <QSet>

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

GenreMapping mapping(const QString& source, const QString& target) {
    return GenreMapping{QUuid::createUuid(), source, target};
}

QString fromUtf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

TEST(GenreMapping, BuiltInTableHas199RowsWithStableUniqueIds) {
    const auto& rows = defaultGenreMappings();
    ASSERT_EQ(rows.size(), 199);
    QSet<QUuid> ids;
    for (const GenreMapping& row : rows) {
        EXPECT_FALSE(row.id.isNull());
        ids.insert(row.id);
        EXPECT_EQ(row.source, row.source.toLower()) << row.source.toStdString();
        EXPECT_EQ(row.source, row.source.trimmed()) << row.source.toStdString();
        EXPECT_FALSE(row.target.isEmpty());
    }
    EXPECT_EQ(ids.size(), 199);
    EXPECT_EQ(defaultGenreMappings().at(57).id, rows.at(57).id);
}

TEST(GenreMapping, MapsWithTheBuiltInTable) {
    const auto& rows = defaultGenreMappings();
    EXPECT_EQ(mapGenre("Hip-Hop", rows), QStringLiteral("Hip Hop"));
    EXPECT_EQ(mapGenre("  HIP_HOP\t", rows), QStringLiteral("Hip Hop"));
    EXPECT_EQ(mapGenre("drum'n'bass", rows), QStringLiteral("Drum & Bass"));
    EXPECT_EQ(mapGenre("Klassik", rows), QStringLiteral("Klassik"));
    EXPECT_EQ(mapGenre("classical", rows), QStringLiteral("Klassik"));
    EXPECT_EQ(mapGenre("neue deutsche haerte", rows), fromUtf8("Neue Deutsche Härte"));
    EXPECT_EQ(mapGenre(fromUtf8("NEUE DEUTSCHE HÄRTE"), rows), fromUtf8("Neue Deutsche Härte"));
    EXPECT_EQ(mapGenre("deep-house", rows), QStringLiteral("Deep House"));
    EXPECT_EQ(mapGenre("house-", rows), QStringLiteral("House"));
    // No row: only the first character changes.
    EXPECT_EQ(mapGenre("melodic house", rows), QStringLiteral("Melodic house"));
    EXPECT_EQ(mapGenre(" melodic-HOUSE_x ", rows), QStringLiteral("Melodic-HOUSE_x"));
    // Inner runs of blanks are not collapsed.
    EXPECT_EQ(mapGenre("deep  house", rows), QStringLiteral("Deep  house"));
}

TEST(GenreMapping, FirstRowInListOrderWins) {
    QList<GenreMapping> rows = defaultGenreMappings();
    rows.append(mapping("house", "House Music"));
    EXPECT_EQ(mapGenre("house", rows), QStringLiteral("House"));
    rows.prepend(mapping("HOUSE", "House Music"));
    EXPECT_EQ(mapGenre("House", rows), QStringLiteral("House Music"));
}

TEST(GenreMapping, JsonRoundTripAndStrictDecoding) {
    const QList<GenreMapping> rows{mapping("hip-hop", "Hip Hop"),
                                   mapping(fromUtf8("härte"), fromUtf8("Härte"))};
    const QByteArray data = encodeGenreMappings(rows);
    const auto decoded = decodeGenreMappings(data);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, rows);

    const QJsonObject object = rows.first().toJson();
    EXPECT_EQ(object.size(), 3);
    const QString idText = object.value("id").toString();
    EXPECT_EQ(idText.size(), 36);
    EXPECT_EQ(idText, idText.toUpper());

    const QString id = rows.first().id.toString(QUuid::WithoutBraces);
    const auto decode = [](const QString& json) {
        return decodeGenreMappings(json.toUtf8());
    };
    EXPECT_TRUE(decode("[]").has_value());
    EXPECT_TRUE(decode(QStringLiteral("[{\"id\":\"%1\",\"source\":\"a\",\"target\":\"B\"}]").arg(id)));
    EXPECT_FALSE(decode(QStringLiteral("[{\"id\":\"%1\",\"source\":\"a\"}]").arg(id)));
    EXPECT_FALSE(decode(QStringLiteral("[{\"id\":\"%1\",\"source\":\"a\",\"target\":3}]").arg(id)));
    EXPECT_FALSE(decode(QStringLiteral("[{\"id\":\"{%1}\",\"source\":\"a\",\"target\":\"B\"}]").arg(id)));
    EXPECT_FALSE(decode("[{\"id\":\"nope\",\"source\":\"a\",\"target\":\"B\"}]"));
    EXPECT_FALSE(decode(QStringLiteral("[{\"id\":\"%1\",\"source\":\"a\",\"target\":\"B\"}, 1]").arg(id)));
    EXPECT_FALSE(decode("{}"));
    EXPECT_FALSE(decode("[{"));
}
