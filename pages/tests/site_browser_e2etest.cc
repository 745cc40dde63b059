// /site in a real browser: the header shows the shop and user names with their accents, whether
// the client encoded them in Windows-1252 (the suite's clients) or in UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "packet/text_codec.h"
#include "tests/support/browser.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/form.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

TEST(SiteBrowserE2e, HeaderShowsAccentedNames) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_BROWSER();
  struct Case {
    const char* what;
    std::string shop, user;  // the bytes the client encodes
    std::string header;      // the header text the browser shows, in UTF-8
  } cases[] = {
      {"Windows-1252", "S\xE3o Jo\xE3o", "Jos\xE9 \x80", "Loja:[ S\xC3\xA3o Jo\xC3\xA3o ] Usuario:[ Jos\xC3\xA9 \xE2\x82\xAC ]"},
      {"UTF-8", "S\xC3\xA3o Jo\xC3\xA3o", "Ma\xC3\xA7\xC3\xA3", "Loja:[ S\xC3\xA3o Jo\xC3\xA3o ] Usuario:[ Ma\xC3\xA7\xC3\xA3 ]"},
      {"markup and controls", "<b>A&B</b>", std::string("x\0y\x01z", 5),
       "Loja:[ &lt;b&gt;A&amp;B&lt;/b&gt; ] Usuario:[ xyz ]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string shop, user;
    packet::AppendBase64(shop, c.shop);
    packet::AppendBase64(user, c.user);
    const std::string url = ActionUrl(base, "ikvowebserver.dll", "/site") +
                            "?p1=" + FormEncode(shop) + "&p2=" + FormEncode(user);
    const std::string dom = BrowserDom(url, 1000);
    EXPECT_NE(dom.find("<div class=\"header\">" + c.header + "</div>"), std::string::npos) << dom;
  }
}

}  // namespace
}  // namespace kvo::testing
