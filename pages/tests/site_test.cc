// The site page (Base64 query fields, the template, the tag handler's escaping), the traffic
// file and the script action, through the real program.
#include <gtest/gtest.h>

#include "pages/actions.h"
#include "pages/base64.h"
#include "platform/error.h"
#include "tests/support/cgi_runner.h"

namespace kvo::pages {
namespace {

TEST(Base64, GroupByGroup) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"MTI=", "12"},
      {"Sm9hbw==", "Joao"},
      {"QQ==QQ==", "AA"},
      {"QUJD", "ABC"},
      {"QUI=QQ==QUJD", "ABAABC"},
      {"Pz8+",
       "?"
       "?>"},
      {"/+/+", "\xFF\xEF\xFE"},
      {"Sm/Do28=", "Jo\xC3\xA3o"},
      {"QQ=A", "A"},  // "=" in the third place: one byte, whatever follows
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64(c.in), c.out) << c.in;
  for (const char* bad : {"QQ=", "Q", "QQ", "QQ==Q", "MTI=MT"}) {
    try {
      DecodeBase64(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Uneven size in DecodeToStream.") << bad;
    }
  }
}

TEST(SiteTagHandler, KnownTagsWithMarkupAsEntities) {
  SiteTexts texts{"Loja & <Cia>", "O'Neil \"Jr\""};
  struct Case {
    std::string tag, out;
  } cases[] = {
      {"XLOJA", "Loja &amp; &lt;Cia&gt;"},
      {"XUSUARIO", "O&#39;Neil &quot;Jr&quot;"},
      {"xloja", ""},
      {"XLOJA2", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string replace;
    SiteTagHandler(texts, c.tag, replace);
    EXPECT_EQ(replace, c.out) << c.tag;
  }
}

// The page declares UTF-8; the suite's clients encode names in Windows-1252, others in UTF-8.
// The choice is made for the whole text, never byte by byte.
TEST(SiteTagHandler, NamesBecomeTheUtf8ThePageDeclares) {
  struct Case {
    std::string name, shown;
    const char* what;
  } cases[] = {
      {"Padaria 12", "Padaria 12", "ASCII unchanged"},
      {"S\xE3o Jo\xE3o", "S\xC3\xA3o Jo\xC3\xA3o", "Windows-1252 converted"},
      {"S\xC3\xA3o Jo\xC3\xA3o", "S\xC3\xA3o Jo\xC3\xA3o", "UTF-8 kept"},
      {"\x80 5,00 \x93ok\x94", "\xE2\x82\xAC 5,00 \xE2\x80\x9Cok\xE2\x80\x9D",
       "Windows-1252 euro and quotes"},
      // A UTF-8 letter beside a Windows-1252 one: the whole text is Windows-1252.
      {"\xC3\xA3 \xE3", "\xC3\x83\xC2\xA3 \xC3\xA3", "mixed text read as Windows-1252"},
      {"\xC0\xAE", "\xC3\x80\xC2\xAE", "overlong form is not UTF-8"},
      {std::string("a\0b\x01\tc\r\nd\x7F", 11), "abcd", "controls and NUL left out"},
      {"a\xC2\x85"
       "b\xC2\xA0",
       "ab\xC2\xA0", "UTF-8 C1 control left out, NBSP kept"},
      {"a\x81"
       "b\xE3",
       "ab\xC3\xA3", "undefined Windows-1252 byte left out"},
      {"<b>\xE3</b>", "&lt;b&gt;\xC3\xA3&lt;/b&gt;", "markup still escaped"},
  };
  for (const auto& c : cases) {
    std::string shop, user;
    SiteTagHandler({c.name, c.name}, "XLOJA", shop);
    SiteTagHandler({c.name, c.name}, "XUSUARIO", user);
    EXPECT_EQ(shop, c.shown) << c.what;
    EXPECT_EQ(user, c.shown) << c.what;
  }
}

TEST(SiteTemplate, LayoutLines) {
  const auto lines = SiteTemplate();
  ASSERT_EQ(lines.size(), 131u);
  EXPECT_EQ(lines[0],
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
            "\"http://www.w3.org/TR/html4/loose.dtd\">");
  EXPECT_EQ(lines[1], "<html>");
  EXPECT_EQ(lines[2], "<head>");
  EXPECT_NE(lines[3].find("text/html; charset=utf-8"), std::string::npos);
  EXPECT_EQ(lines[4], "<title>KVO.Net</title>");
  EXPECT_EQ(lines[5], "<style type=\"text/css\">");
  EXPECT_EQ(lines[6], "<!--");
  EXPECT_EQ(lines[115], "-->");
  EXPECT_EQ(lines[116], "</style></head>");
  EXPECT_EQ(lines[117], "");
  EXPECT_EQ(lines[118], "<body>");
  EXPECT_EQ(lines[119], "");
  EXPECT_EQ(lines[120], "<div class=\"container\">");
  EXPECT_EQ(lines[121], "  <div class=\"header\">Loja:[ <#XLOJA> ] Usuario:[ <#XUSUARIO> ]</div>");
  EXPECT_EQ(lines[123], "    <h1>&nbsp;</h1>");
  EXPECT_NE(lines[124].find("<!-- end .content -->"), std::string::npos);
  EXPECT_NE(lines[127].find("<!-- end .footer -->"), std::string::npos);
  EXPECT_NE(lines[128].find("<!-- end .container -->"), std::string::npos);
  EXPECT_EQ(lines[129], "</body>");
  EXPECT_EQ(lines[130], "</html>");

  // The rules in their order, one tab-indented declaration per line.
  const char* selectors[] = {"body {",
                             "ul, ol, dl {",
                             "h1, h2, h3, h4, h5, h6, p {",
                             "a img {",
                             "a:link {",
                             "a:visited {",
                             "a:hover, a:active, a:focus {",
                             ".container {",
                             ".header {",
                             ".content {",
                             ".content ul, .content ol {",
                             ".footer {",
                             ".fltrt {",
                             ".fltlft {",
                             ".clearfloat {"};
  size_t next = 0, declarations = 0;
  for (size_t i = 7; i < 115; ++i) {
    const std::string& l = lines[i];
    if (next < std::size(selectors) && l == selectors[next]) ++next;
    if (!l.empty() && l[0] == '\t') {
      ++declarations;
      EXPECT_EQ(l.back(), ';') << l;
    }
  }
  EXPECT_EQ(next, std::size(selectors));
  EXPECT_EQ(declarations, 58u);
}

std::map<std::string, std::string> Get(const std::string& path, const std::string& query) {
  return {{"SERVER_PROTOCOL", "HTTP/1.1"},
          {"REQUEST_METHOD", "GET"},
          {"PATH_INFO", path},
          {"QUERY_STRING", query}};
}

std::string HeaderLine(const std::string& body) {
  size_t p = body.find("<div class=\"header\">");
  if (p == std::string::npos) return "(none)";
  return body.substr(p, body.find("\r\n", p) - p);
}

TEST(SiteAction, HeaderLineFromTheQuery) {
  struct Case {
    std::string query, header;
  } cases[] = {
      {"p1=MTI=&p2=Sm9hbw==", "Loja:[ 12 ] Usuario:[ Joao ]"},
      {"", "Loja:[  ] Usuario:[  ]"},
      {"p1=QQ==QQ==", "Loja:[ AA ] Usuario:[  ]"},
      {"P2=Sm9hbw%3D%3D", "Loja:[  ] Usuario:[ Joao ]"},
      {"p1=Pz8%2B",
       "Loja:[ ?"
       "?&gt; ] Usuario:[  ]"},
      // base64("<script>alert('x')</script>"), base64("\"><img src=x onerror=y>")
      {"p1=PHNjcmlwdD5hbGVydCgneCcpPC9zY3JpcHQ%2B&p2=Ij48aW1nIHNyYz14IG9uZXJyb3I9eT4=",
       "Loja:[ &lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; ] Usuario:[ "
       "&quot;&gt;&lt;img src=x onerror=y&gt; ]"},
  };
  for (const auto& c : cases) {
    auto r = testing::RunCgi(Get("/site", c.query));
    EXPECT_EQ(r.Head(),
              "Status: 200 OK\r\nContent-Type: text/html\r\nX-Content-Type-Options: "
              "nosniff\r\nContent-Length: " +
                  std::to_string(r.Body().size()) + "\r\nContent:\r\n\r\n")
        << c.query;
    EXPECT_EQ(HeaderLine(r.Body()), "<div class=\"header\">" + c.header + "</div>") << c.query;
  }
}

TEST(SiteAction, WholePageIsTheTemplateWithCrLf) {
  std::string expected;
  for (auto line : SiteTemplate()) {
    size_t p = line.find("<#XLOJA>");
    if (p != std::string::npos) line = "  <div class=\"header\">Loja:[ 12 ] Usuario:[ Joao ]</div>";
    expected += line + "\r\n";
  }
  EXPECT_EQ(testing::RunCgi(Get("/site", "p1=MTI=&p2=Sm9hbw==")).Body(), expected);
}

TEST(SiteAction, UnevenBase64IsAnInternalError) {
  for (const char* query : {"p1=QQ=", "p1=MTI=&p2=Sm9hbw=", "p2=QQ=&p1=MTI"}) {
    auto r = testing::RunCgi(Get("/site", query));
    const std::string body =
        "<html><body><h1>Internal Application Error</h1>\r\n"
        "<p>Uneven size in DecodeToStream.\r\n"
        "<p><hr width=\"100%\"><i>/site</i></body></html>";
    EXPECT_EQ(r.output,
              "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n"
              "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n"
              "Content-Length: " +
                  std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body)
        << query;
  }
}

class TrafficFile : public ::testing::Test {
 protected:
  testing::TempDir drives;
  std::map<std::string, std::string> env = {
      {"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/kml"}, {"KVO_DRIVES", drives.path()}};
  std::string file = drives.path() + "/C/KVO/KVO.Net/WebServers/trafego.xml";
};

TEST_F(TrafficFile, LinesEndWithCrLf) {
  struct Case {
    std::string bytes, body;
  } cases[] = {
      {"a\nb", "a\r\nb\r\n"},           {"<kml>\r\n<x/>\r</kml>\n", "<kml>\r\n<x/>\r\n</kml>\r\n"},
      {"a\n\nb\r\n", "a\r\n\r\nb\r\n"}, {std::string("a\nb\0c\nd", 7), "a\r\nb\r\n"},
      {"\xE7\xE3o", "\xE7\xE3o\r\n"},
  };
  for (const auto& c : cases) {
    testing::WriteFile(file, c.bytes);
    auto r = testing::RunCgi(env);
    EXPECT_EQ(r.Body(), c.body) << c.bytes;
    EXPECT_NE(r.Head().find("Content-Type: text/html\r\n"), std::string::npos);
  }
}

TEST_F(TrafficFile, EmptyFileGivesEmptyAnswer) {
  testing::WriteFile(file, "");
  EXPECT_EQ(testing::RunCgi(env).output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
}

TEST_F(TrafficFile, MissingFileIsAnInternalError) {
  auto r = testing::RunCgi(env);
  EXPECT_EQ(r.output.rfind("Status: 500 Internal Server Error\r\n", 0), 0u) << r.output;
  EXPECT_EQ(r.Body(),
            "<html><body><h1>Internal Application Error</h1>\r\n"
            "<p>Cannot open file \"C:\\KVO\\KVO.Net\\WebServers\\trafego.xml\". No such file or "
            "directory\r\n<p><hr width=\"100%\"><i>/kml</i></body></html>");
}

}  // namespace
}  // namespace kvo::pages
