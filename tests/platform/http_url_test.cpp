#include <gtest/gtest.h>

#include "platform/http.h"
#include "platform/shell.h"

namespace {

TEST(HttpsUrl, OnlyHttpsAddressesAreCanonical) {
    const struct {
        const char* url;
        uint32_t status;
        const char* canonical;
    } cases[] = {
        {"https://Example.ORG/def/news.php", 0, "https://Example.ORG/def/news.php"},
        {"HTTPS://example.org", 0, "https://example.org/"},
        {"https://127.0.0.1:8443/def/emailMngr.php?data=2EF5", 0,
         "https://127.0.0.1:8443/def/emailMngr.php?data=2EF5"},
        {"http://example.org/", platform::kInternetInvalidUrl, ""},
        {"ftp://example.org/", platform::kInternetInvalidUrl, ""},
        {"https://", platform::kInternetInvalidUrl, ""},
        {"not a url", platform::kInternetInvalidUrl, ""},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(platform::canonicalizeHttpsUrl(c.url, out), c.status) << c.url;
        EXPECT_EQ(out, c.canonical) << c.url;
    }
}

TEST(HttpsClient, AnAddressThatIsNotHttpsIsNeverFetched) {
    platform::HttpsClient client;
    ASSERT_EQ(client.open(), 0u);
    platform::HttpsReply reply;
    EXPECT_EQ(client.get("http://127.0.0.1:1/", {}, reply), platform::kInternetInvalidUrl);
    EXPECT_EQ(reply.failedStep, platform::HttpsStep::Open);
    EXPECT_EQ(reply.status, 0);
}

TEST(OpenWebPage, OnlyWebAddressesAreHandedOn) {
    for (const char16_t* address : {u"", u"-h", u"file:///etc/passwd", u"javascript:alert(1)",
                                    u"https://", u"https://x.org/\nsecond"}) {
        EXPECT_EQ(platform::openWebPage(address), 87u);
    }
}

}  // namespace
