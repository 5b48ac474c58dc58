#include "services/UpdateCheckService.h"

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

std::string feed(const std::string& version, const std::string& build, const std::string& extra = "") {
    return R"({"version":")" + version + R"(","build":)" + build + extra + "}";
}

using Kind = UpdateCheckResult::Kind;

struct Case {
    const char* name;
    QString version;
    QString build;
    LoopbackServer::Response answer;
    Kind kind;
    QString text; // empty: not checked
    std::optional<QString> notes = std::nullopt;
};
const std::string big = feed("9.0", "1", R"(,"release_notes_en":")" + std::string(70 * 1024, 'x') + "\"");
const LoopbackServer::Response slow = [] {
    LoopbackServer::Response answer(200, feed("9.0", "1"));
    answer.delay = 1500ms;
    return answer;
}();
const std::string withNotes = feed("1.1", "1", R"(,"release_notes_en":"New","release_notes_de":null)");
const Kind newer = Kind::updateAvailable, current = Kind::upToDate, net = Kind::networkError,
           unreadable = Kind::parseError;
const std::vector<Case> cases = {
    {"newer build, same release", "1.2.0", "5", {200, feed("1.2", "6")}, newer, "1.2 (6)"},
    {"older build, same release", "1.2.0", "7", {200, feed("1.2.0", "6")}, current, "1.2.0 (7)"},
    {"same build, same release", "1.2.0", "6", {200, feed("1.2", "6")}, current, "1.2.0 (6)"},
    {"leading letter skipped", "1.2.0", "1", {200, feed("V2.1.3", "1")}, newer, "V2.1.3 (1)"},
    {"notes", "1.0", "1", {200, withNotes}, newer, "1.1 (1)", QStringLiteral("New")},
    {"one number in feed", "1.0", "1", {200, feed("2.0 beta", "1")}, unreadable, ""},
    {"status 500, valid feed", "1.0", "1", {500, feed("9.0", "1")}, net, "HTTP 500"},
    {"not JSON", "1.0", "1", {200, "<html>portal</html>"}, unreadable, ""},
    {"build with fraction", "1.0", "1", {200, feed("9.0", "6.5")}, unreadable, ""},
    {"build beyond 64 bits", "1.0", "1", {200, feed("9.0", "9223372036854775808")}, unreadable, ""},
    {"notes as number", "1.0", "1", {200, feed("9.0", "1", R"(,"release_notes_de":5)")}, unreadable, ""},
    {"oversized body", "1.0", "1", {200, big}, unreadable, ""},
    {"past the deadline", "1.0", "1", slow, net, ""},
};

} // namespace

using UpdateCheckServiceFeedTest = ::testing::TestWithParam<Case>;

TEST_P(UpdateCheckServiceFeedTest, FeedAnswersAgainstTheRunningRelease) {
    const Case& c = GetParam();
    LoopbackServer server;
    server.script("GET", "/downloads/version.json", {c.answer});
    const UpdateCheckService service(server.endpoints(), c.version, c.build, 400ms);
    const UpdateCheckResult result = service.checkForUpdates();
    EXPECT_EQ(result.kind, c.kind);
    if (!c.text.isEmpty()) {
        EXPECT_EQ(result.text, c.text);
    }
    EXPECT_EQ(result.notes, c.notes);
}
INSTANTIATE_TEST_SUITE_P(, UpdateCheckServiceFeedTest, ::testing::ValuesIn(cases), RowName());

TEST(UpdateCheckServiceTest, ReleaseNotesInTheLanguageShown) {
    const ServerVersionInfo info{"9.0", 1, "Neu", "New"};
    const std::tuple<AppLanguage, const char*, const char*> notes[] = {
        {AppLanguage::system, "de", "Neu"}, {AppLanguage::system, "fr", "New"}, {AppLanguage::german, "en", "Neu"},
        {AppLanguage::english, "de", "New"}};
    for (const auto& [language, systemCode, text] : notes) {
        EXPECT_EQ(UpdateCheckService::localizedReleaseNotes(info, language, systemCode), text) << systemCode;
    }
}
