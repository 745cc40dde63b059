// The site page and the connection test page as callers see them through the web server.
#include <gtest/gtest.h>

#include "tests/support/cgi_runner.h"
#include "tests/support/http_client.h"

namespace kvo::testing {
namespace {

const char* const kScriptNames[] = {"ikvowebserver.dll", "kvowebserver.exe"};

TEST(PagesE2e, SitePage) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r = HttpGet(ActionUrl(base, script, "/site") +
                             "?p1=MTI=&p2=PGI%2BSm9hbzwvYj4=");  // "<b>Joao</b>"
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/html");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.body.rfind("<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"", 0),
              0u);
    EXPECT_NE(r.body.find("<div class=\"header\">Loja:[ 12 ] Usuario:[ "
                          "&lt;b&gt;Joao&lt;/b&gt; ]</div>\r\n"),
              std::string::npos)
        << r.body;
    EXPECT_EQ(r.body.substr(r.body.size() - 18), "</body>\r\n</html>\r\n");

    HttpResponse bad = HttpGet(ActionUrl(base, script, "/site") + "?p1=QQ=");
    EXPECT_EQ(bad.status, 500);
    EXPECT_NE(bad.body.find("<p>Uneven size in DecodeToStream.\r\n"), std::string::npos);
  }
}

TEST(PagesE2e, ConnectionTestPage) {
  KVO_REQUIRE_ENV(base, "KVO_HTTP_URL");
  for (const char* script : kScriptNames) {
    SCOPED_TRACE(script);
    HttpResponse r =
        HttpGet(ActionUrl(base, script, "/teste") + "?x=1", {"User-Agent: kvo-e2e <b>"});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/html");
    const std::string& b = r.body;
    EXPECT_EQ(b.rfind("<HTML>\r\n<HEAD>\r\n<TITLE></TITLE>\r\n</HEAD>\r\n<BODY>\r\n"
                      "<p align=center><strong><font face=Arial color=#990000 size=6>"
                      "Teste de Conex\xE3o do KVO.Net</font></strong></p>\r\n",
                      0),
              0u)
        << b;
    auto value = [](const std::string& v) {
      return "<font color=#ff0000>" + v + "</font></font></strong></FONT></FONT></STRONG></p>\r\n";
    };
    EXPECT_NE(b.find("<font color=#ff0000>kvo-e2e <b></p>\r\n"), std::string::npos);
    EXPECT_NE(b.find("M\xE9todo:</font>\r\n" + value("GET")), std::string::npos);
    EXPECT_NE(b.find("PathInfo:</font>\r\n" + value("/teste")), std::string::npos);
    EXPECT_NE(b.find("PathInfo Interno:</font>\r\n" + value("/teste")), std::string::npos);
    EXPECT_NE(b.find("Endere\xE7o Remoto:</font>\r\n" + value("127.0.0.1")), std::string::npos);
    // The port is the one of the URL, written as a number.
    const std::string port = base.substr(base.rfind(':') + 1);
    EXPECT_NE(b.find("Porta do Servidor:</font>\r\n" + value(port.substr(0, port.find('/')))),
              std::string::npos)
        << b;
    EXPECT_EQ(b.substr(b.size() - 18), "</BODY>\r\n</HTML>\r\n");
  }
}

}  // namespace
}  // namespace kvo::testing
