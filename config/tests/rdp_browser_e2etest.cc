// /rdp in a real browser: the page's script must parse for every form of desktop size that
// clients send, so that it defines ConnectRDP. A size that is not a number leaves an empty place,
// the script does not parse, and the browser shows that too (the test's own control).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/markup.h"
#include "tests/support/browser.h"
#include "tests/support/cgi_runner.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

TEST(RdpBrowserE2e, ScriptDefinesConnectRdpForEachWidthForm) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  KVO_REQUIRE_ENV(www, "KVO_HTTP_WWW");
  KVO_REQUIRE_BROWSER();
  struct Case {
    const char* width;
    const char* shown;  // what `typeof ConnectRDP` gives in the page
  } cases[] = {
      {"1024", "function"},   {"+1024", "function"}, {"1024 ", "function"},
      {"1024.5", "function"}, {"0x400", "function"}, {".5", "function"},
      {"1e3", "function"},    {"-768", "function"},  {"1024px", "undefined"},
  };
  // A page of the program's own origin, so that it may look into the frames it posts to.
  std::string page = "<html><body>\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string n = std::to_string(i);
    page += "<p id=\"r" + n + "\">none</p><iframe name=\"f" + n + "\"></iframe>";
    page += "<form target=\"f" + n + "\" method=\"post\" action=\"" +
            platform::HtmlEscape(ActionUrl(base, "ikvowebserver.dll", "/rdp")) + "\">";
    page += "<input name=\"width_rdp\" value=\"" + platform::HtmlEscape(cases[i].width) +
            "\"><input name=\"height_rdp\" value=\"768\"></form>\n";
  }
  page +=
      "<script>\n"
      "document.querySelectorAll('iframe').forEach(function (frame, i) {\n"
      "  frame.onload = function () {\n"
      "    var w = frame.contentWindow;\n"
      "    if (w.location.href.indexOf('/rdp') < 0) return;\n"
      "    document.getElementById('r' + i).textContent = typeof w.ConnectRDP;\n"
      "  };\n"
      "});\n"
      "for (const f of document.forms) f.submit();\n"
      "</script></body></html>\n";
  const std::string name = "rdp-forms-" + std::to_string(getpid()) + ".html";
  WriteFile(www + "/" + name, page);
  const std::string origin = base.substr(0, base.find('/', std::string("http://").size()));
  const std::string dom = BrowserDom(origin + "/" + name, 5000);
  std::filesystem::remove(www + "/" + name);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_NE(dom.find("<p id=\"r" + std::to_string(i) + "\">" + cases[i].shown + "</p>"),
              std::string::npos)
        << "width_rdp=\"" << cases[i].width << "\"\n"
        << dom;
  }
}

}  // namespace
}  // namespace kvo::testing
