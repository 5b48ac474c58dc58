#include "model/GenreMapping.h"

#include "QtPrinters.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

GenreMapping mapping(const QString& source, const QString& target) {
    return GenreMapping{QUuid::createUuid(), source, target};
}

} // namespace

TEST(GenreMappingTest, BuiltInTableMapsWithTrimmedLowerCaseSources) {
    const auto& rows = defaultGenreMappings();
    QSet<QUuid> ids;
    for (const GenreMapping& row : rows) {
        ids.insert(row.id);
    }
    EXPECT_EQ(rows.size(), 199);
    EXPECT_EQ(ids.size(), 199);
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  HIP_HOP\t", "Hip Hop"},   {"drum'n'bass", "Drum & Bass"}, {"classical", "Klassik"},
        {"NEUE DEUTSCHE HÄRTE", "Neue Deutsche Härte"}, {"house-", "House"},
        {" melodic-HOUSE_x ", "Melodic-HOUSE_x"}, // no row: only the first letter changes
        {"deep  house", "Deep  house"},           // inner blanks are kept
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mapGenre(QString::fromUtf8(c.in), rows), QString::fromUtf8(c.out)) << c.in;
    }
    QList<GenreMapping> extended = rows;
    extended.append(mapping("house", "House Music"));
    EXPECT_EQ(mapGenre("house", extended), QStringLiteral("House")); // the first row wins
    extended.prepend(mapping("HOUSE", "House Music"));
    EXPECT_EQ(mapGenre("House", extended), QStringLiteral("House Music"));
    EXPECT_FALSE(hasGenreMapping("house-", {mapping("house", "House")})); // "house-" is a genre of its own
}

TEST(GenreMappingTest, JsonRoundTripAndStrictDecoding) {
    const QList<GenreMapping> rows{mapping("hip-hop", "Hip Hop"), mapping("härte", "Härte")};
    EXPECT_EQ(decodeGenreMappings(encodeGenreMappings(rows)), rows);
    const QString id = rows.first().id.toString(QUuid::WithoutBraces);
    EXPECT_EQ(rows.first().toJson().value("id").toString(), id.toUpper());
    const struct {
        QString json;
        bool accepted;
    } cases[] = {
        {"[]", true},
        {QStringLiteral(R"([{"id":"%1","source":"a","target":"B"}])").arg(id), true},
        {QStringLiteral(R"([{"id":"%1","source":"a"}])").arg(id), false},
        {QStringLiteral(R"([{"id":"{%1}","source":"a","target":"B"}])").arg(id), false},
        {QStringLiteral(R"([{"id":"%1","source":"a","target":"B"}, 1])").arg(id), false},
        {R"([{"id":"nope","source":"a","target":"B"}])", false},
        {"[{", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeGenreMappings(c.json.toUtf8()).has_value(), c.accepted) << c.json.toStdString();
    }
}
