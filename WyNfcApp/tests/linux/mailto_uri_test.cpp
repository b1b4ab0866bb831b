#include "platform/linux/mailto_uri.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wynfc {
namespace {

struct UriCase {
    const char* what;
    MailMessage message;
    std::string uri;
};

TEST(MailtoUri, EncodesRecipientsSubjectAndBodyForRfc6068) {
    const std::vector<UriCase> cases = {
        {"all three",
         {{"support@example.com"}, "WyNfc feedback", "Hello"},
         "mailto:support@example.com?subject=WyNfc%20feedback&body=Hello"},
        {"delimiters of the URI and of its fields",
         {{"support@example.com"}, "A&B?C=D", "100% #1 a+b, c/d"},
         "mailto:support@example.com?subject=A%26B%3FC%3DD&body=100%25%20%231%20a%2Bb%2C%20c%2Fd"},
        {"line breaks of every kind become CRLF",
         {{"support@example.com"}, "", "one\ntwo\r\nthree\rfour\n\n"},
         "mailto:support@example.com?body=one%0D%0Atwo%0D%0Athree%0D%0Afour%0D%0A%0D%0A"},
        {"unicode as UTF-8 bytes",
         {{"support@example.com"}, "Grüße", "Ω → ✓"},
         "mailto:support@example.com?subject=Gr%C3%BC%C3%9Fe&body=%CE%A9%20%E2%86%92%20%E2%9C%93"},
        {"several recipients, each encoded",
         {{"a@example.com", "b+tag@example.com", "c d@example.com"}, "", ""},
         "mailto:a@example.com,b%2Btag@example.com,c%20d@example.com"},
        {"no recipient", {{}, "Subject", ""}, "mailto:?subject=Subject"},
        {"nothing", {}, "mailto:"},
    };
    for (const UriCase& c : cases) {
        EXPECT_EQ(mailtoUri(c.message), c.uri) << c.what;
    }
}

} // namespace
} // namespace wynfc
