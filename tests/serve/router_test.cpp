// The service's router, without sockets: tests/data/serve_routes.txt.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "serve/serve_router.h"
#include "serve/serve_snapshot.h"
#include "tables.h"

namespace {

std::string Utf8(const std::u16string& text) { return Utf16ToUtf8(text.data(), text.size()); }

TEST(Router, AnswersEachRowOfTheTable) {
    DirectoryResult result;
    std::string cause;
    const std::shared_ptr<const Snapshot> snapshot = LoadSnapshot(VARNOLT_DAT, &result, &cause);
    ASSERT_TRUE(snapshot);
    const Metrics metrics;
    std::ifstream file(VARNOLT_TEST_DATA "/serve_routes.txt", std::ios::binary);
    std::stringstream table;
    table << file.rdbuf();
    for (const auto& row : ParseTable(table.str())) {
        const std::string request = Utf8(row[0]);
        SCOPED_TRACE(request);
        std::istringstream words(request);
        std::string method, target, type;
        words >> method >> target >> type;
        http::fields head;
        if (!type.empty()) head.set(http::field::content_type, type);
        const RouteReply reply = Respond(http::string_to_verb(method), target, head, {*snapshot, metrics, 1 << 28});
        EXPECT_EQ(std::to_string(static_cast<unsigned>(reply.status)), Utf8(row[1]));
        size_t at = 0;
        for (size_t i = 2; i < row.size(); ++i) {
            const std::string text = Utf8(row[i]);
            if (text.rfind("Allow: ", 0) == 0) {
                EXPECT_STREQ(reply.allow, text.c_str() + 7);
                continue;
            }
            at = reply.body.find(text, at);
            EXPECT_NE(at, std::string::npos) << text << " in " << reply.body;
        }
        if (std::string_view(reply.type) != kJsonType) continue;  // a file of the web page
        const nlohmann::json body = nlohmann::json::parse(reply.body);
        EXPECT_TRUE(reply.status == http::status::ok || body.size() == 1) << reply.body;
        EXPECT_EQ(!reply.refusal.empty(), reply.status != http::status::ok);
    }
}

}  // namespace
