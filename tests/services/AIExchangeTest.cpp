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

SettingsSnapshot settingsFor(AIProviderType provider, const QString& endpoint) {
    SettingsSnapshot s;
    s.selectedProvider = provider;
    s.customEndpoint = endpoint;
    return s;
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

TEST(AIExchange, LocalAddressesStripSlashesAndNeedHttpWithHost) {
    struct Case {
        AIProviderType provider;
        QString endpoint;
        QString expectedText;
        bool usable;
    };
    const std::vector<Case> cases{
        {AIProviderType::ollama, u(""), u("http://localhost:11434/api/tags"), true},
        {AIProviderType::lmstudio, u(""), u("http://localhost:1234/api/tags"), true},
        {AIProviderType::custom, u(""), u("http://localhost:8080/api/tags"), true},
        {AIProviderType::ollama, u("http://h:1/"), u("http://h:1/api/tags"), true},
        {AIProviderType::ollama, u("http://h:1///"), u("http://h:1/api/tags"), true},
        {AIProviderType::ollama, u("localhost:11434"), u("http://localhost:11434/api/tags"), true},
        {AIProviderType::ollama, u("https://h/base/"), u("https://h/base/api/tags"), true},
        {AIProviderType::ollama, u("http://local host:1"), u("http://local host:1/api/tags"), false},
        {AIProviderType::ollama, u("http://"), u("http:/api/tags"), false},
    };
    for (const Case& c : cases) {
        const AIExchange::Address a =
            AIExchange::localAddress(settingsFor(c.provider, c.endpoint), u("/api/tags"));
        EXPECT_EQ(a.text, c.expectedText) << c.endpoint.toStdString();
        EXPECT_EQ(a.url.has_value(), c.usable) << c.endpoint.toStdString();
    }
    EXPECT_FALSE(AIExchange::usableUrl(u("file:///etc/passwd")).has_value());
}

TEST(AIExchange, BodiesHaveTheChatAndGenerateForms) {
    const QJsonObject chat =
        QJsonDocument::fromJson(AIExchange::chatBody(u("m"), 20, u("P\n\"q\""))).object();
    EXPECT_EQ(chat, QJsonObject(
                        {{"model", "m"},
                         {"max_tokens", 20},
                         {"messages", QJsonArray{QJsonObject{{"role", "user"}, {"content", "P\n\"q\""}}}}}));
    EXPECT_TRUE(chat.value("max_tokens").isDouble());
    const QJsonObject generate =
        QJsonDocument::fromJson(AIExchange::generateBody(u("llama3.2"), u("P"))).object();
    EXPECT_EQ(generate, QJsonObject({{"model", "llama3.2"}, {"prompt", "P"}, {"stream", false}}));
    EXPECT_TRUE(generate.value("stream").isBool());
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

TEST(AIExchange, ModelListsNeedAListOfObjectsAndSortByCodePoint) {
    const auto ids = [](const char* body) {
        return AIExchange::modelIds(QByteArray(body), u("data"), u("id"));
    };
    EXPECT_EQ(ids(R"({"data":[{"id":"b"},{"id":"B"},{"id":"a"},{"id":7},{"name":"x"},{"id":"a"}]})"),
              QStringList({"B", "a", "a", "b"}));
    EXPECT_EQ(ids(R"({"data":[]})"), QStringList());
    EXPECT_EQ(ids(R"({"data":[{"id":"a"},"b"]})"), std::nullopt); // all elements must be objects
    EXPECT_EQ(ids(R"({"data":{"id":"a"}})"), std::nullopt);
    EXPECT_EQ(ids(R"({"models":[]})"), std::nullopt);
    EXPECT_EQ(ids(R"([{"id":"a"}])"), std::nullopt);
    EXPECT_EQ(ids("<html>"), std::nullopt);
}
