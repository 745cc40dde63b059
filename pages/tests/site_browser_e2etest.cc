// /site in a real browser: the header shows the shop and user names with their accents, whether
// the client encoded them in Windows-1252 (the suite's clients) or in UTF-8.
#include <gtest/gtest.h>

#include <string>

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
    const char* p1;      // Base64 of the shop name's bytes
    const char* p2;      // Base64 of the user name's bytes
    std::string header;  // the header text the browser shows, in UTF-8
  } cases[] = {
      // "S\xE3o Jo\xE3o" and "Jos\xE9 \x80" (euro sign) in Windows-1252
      {"Windows-1252", "U+NvIEpv428=", "Sm9z6SCA",
       "Loja:[ S\xC3\xA3o Jo\xC3\xA3o ] Usuario:[ Jos\xC3\xA9 \xE2\x82\xAC ]"},
      // "S\xC3\xA3o Jo\xC3\xA3o" and "Ma\xC3\xA7\xC3\xA3" in UTF-8
      {"UTF-8", "U8OjbyBKb8Ojbw==", "TWHDp8Oj",
       "Loja:[ S\xC3\xA3o Jo\xC3\xA3o ] Usuario:[ Ma\xC3\xA7\xC3\xA3 ]"},
      // "<b>A&B</b>" and "x\0y\x01z"
      {"markup and controls",
       "PGI+QSZCPC9iPg==", "eAB5AXo=", "Loja:[ &lt;b&gt;A&amp;B&lt;/b&gt; ] Usuario:[ xyz ]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string url = ActionUrl(base, "ikvowebserver.dll", "/site") +
                            "?p1=" + FormEncode(c.p1) + "&p2=" + FormEncode(c.p2);
    const std::string dom = BrowserDom(url, 1000);
    EXPECT_NE(dom.find("<div class=\"header\">" + c.header + "</div>"), std::string::npos) << dom;
  }
}

}  // namespace
}  // namespace kvo::testing
