#include "services/AIExchange.h"

#include "QtPrinters.h"
#include "model/AppError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

TEST(AIExchange, UsableKeyTrimsAndRejectsControlCharacters) {
    struct Case {
        QString stored;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases{
        {u("sk-abc"), u("sk-abc")},
        {u("  sk-abc \t"), u("sk-abc")},
        {u("sk-abc\n"), u("sk-abc")},         // pasted with its line break
        {u("\u00a0sk-abc\r\n"), u("sk-abc")}, // the same trim as the connection test
        {u("\n"), std::nullopt},
        {u(" \t "), std::nullopt},
        {u(""), std::nullopt},
        {u("sk-a\nbc"), std::nullopt}, // would split a header
        {u("sk-a\rbc"), std::nullopt},
        {u("sk-a") + QChar(0) + u("bc"), std::nullopt},
        {u("sk-a\u007fbc"), std::nullopt},
        {u("sk-a\u2028bc"), std::nullopt},
        {u("sk a"), u("sk a")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AIExchange::usableKey(c.stored), c.expected) << c.stored.toStdString();
    }
}

TEST(AIExchange, ReplyPathsNeedTheExactShape) {
    struct Case {
        const char* body;
        AIReplyPath path;
        std::optional<QString> expected;
    };
    using P = AIReplyPath;
    const std::vector<Case> cases{
        {R"({"content":[{"type":"text","text":"1987"}]})", P::anthropicContent, u("1987")},
        {R"({"content":[]})", P::anthropicContent, std::nullopt},
        {R"({"content":{"text":"1987"}})", P::anthropicContent, std::nullopt},
        {R"({"content":["1987"]})", P::anthropicContent, std::nullopt},
        {R"({"content":[{"text":1987}]})", P::anthropicContent, std::nullopt},
        {R"({"choices":[{"message":{"content":" 1987\n"}}]})", P::chatChoices, u(" 1987\n")},
        {R"({"choices":[{"message":{"content":null}}]})", P::chatChoices, std::nullopt},
        {R"({"choices":[{"message":"1987"}]})", P::chatChoices, std::nullopt},
        {R"({"choices":[]})", P::chatChoices, std::nullopt},
        {R"({"response":"1987","done":true})", P::generateResponse, u("1987")},
        {R"({"response":5})", P::generateResponse, std::nullopt},
        {R"(["response"])", P::generateResponse, std::nullopt},
        {R"({"response":"19)", P::generateResponse, std::nullopt},
        {"", P::generateResponse, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AIExchange::replyText(QByteArray(c.body), c.path), c.expected) << c.body;
    }
}

TEST(AIExchange, ErrorBodiesAreCutAndCleanedOfTheKey) {
    EXPECT_EQ(AIExchange::bodyForMessage("bad key sk-secret-1", {u("sk-secret-1")}), u("bad key [redacted]"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray("\xff\xfe oops"), {}), u("unknown"));
    const QString cut = AIExchange::bodyForMessage(QByteArray(5000, 'x'), {});
    EXPECT_EQ(cut, QString(1000, u'x') + u("… (cut)"));
    EXPECT_EQ(AIExchange::bodyForMessage(QByteArray(1000, 'y'), {}), QString(1000, u'y'));
}
