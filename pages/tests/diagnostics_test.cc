// The connection test page and the information pages, through the real program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/cgi_runner.h"

namespace kvo::pages {
namespace {

std::string Label(const std::string& t) {
  return "<p align=justify><strong><font face=Arial color=#990000><font color=#000000>" + t +
         "</font>\r\n";
}
std::string Value(const std::string& v) {
  return "<font color=#ff0000>" + v + "</font></font></strong></FONT></FONT></STRONG></p>\r\n";
}

std::string TestePage(const std::string& agent, const std::string& remoteHost,
                      const std::string& method, const std::string& protocol,
                      const std::string& path, const std::string& translated,
                      const std::string& host, const std::string& remoteAddr,
                      const std::string& port) {
  return "<HTML>\r\n<HEAD>\r\n<TITLE></TITLE>\r\n</HEAD>\r\n<BODY>\r\n"
         "<p align=center><strong><font face=Arial color=#990000 size=6>Teste de Conex\xE3o do "
         "KVO.Net</font></strong></p>\r\n"
         "<p align=justify><strong><font face=Arial color=#990000></font></strong></p>\r\n" +
         Label("Agente:") + "<font color=#ff0000>" + agent + "</p>\r\n" + Label("Host Remoto:") +
         Value(remoteHost) + Label("M\xE9todo:") + Value(method) +
         Label("Vers\xE3o do Protocolo:") + Value(protocol) + Label("PathInfo:") + Value(path) +
         Label("Path Completo:") + Value(translated) + Label("Host:") + Value(host) +
         Label("Endere\xE7o Remoto:") + Value(remoteAddr) + Label("Porta do Servidor:") +
         Value(port) + Label("PathInfo Interno:") + Value(path) + "</BODY>\r\n</HTML>\r\n";
}

TEST(TesteAction, EchoesTheRequestByteForByte) {
  auto r = testing::RunCgi({{"SERVER_PROTOCOL", "HTTP/1.1"},
                            {"REQUEST_METHOD", "POST"},
                            {"PATH_INFO", "/TESTE"},
                            {"PATH_TRANSLATED", "/srv/www/TESTE"},
                            {"HTTP_HOST", "kvo.example:8080"},
                            {"HTTP_USER_AGENT", "Mozilla/5.0 <b>x</b>"},
                            {"REMOTE_HOST", "estacao1"},
                            {"REMOTE_ADDR", "192.168.254.20"},
                            {"SERVER_PORT", "8080"}});
  const std::string page =
      TestePage("Mozilla/5.0 <b>x</b>", "estacao1", "POST", "HTTP/1.1", "/TESTE", "/srv/www/TESTE",
                "kvo.example:8080", "192.168.254.20", "8080");
  EXPECT_EQ(r.output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nX-Content-Type-Options: "
            "nosniff\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page);
  size_t lines = 0;
  for (size_t p = 0; (p = page.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 29u);
}

TEST(TesteAction, MissingVariables) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string page;
  } cases[] = {
      {{{"PATH_INFO", "/teste"}, {"REMOTE_ADDR", "10.0.0.5"}},
       TestePage("", "", "", "", "/teste", "", "", "10.0.0.5", "-1")},
      {{{"PATH_INFO", "/teste"}, {"HTTP_REMOTE_HOST", "via-http"}, {"SERVER_PORT", "x80"}},
       TestePage("", "via-http", "", "", "/teste", "", "", "", "-1")},
      {{{"PATH_INFO", "/teste"}, {"SERVER_PORT", "-7"}, {"USER_AGENT", "ua"}},
       TestePage("ua", "", "", "", "/teste", "", "", "", "-7")},
  };
  for (const auto& c : cases) {
    // Without SERVER_PROTOCOL the body goes out alone.
    EXPECT_EQ(testing::RunCgi(c.env).output, c.page);
  }
}

class InfoPages : public ::testing::Test {
 protected:
  void WriteConfig(const std::string& name, const std::string& base) {
    testing::WriteFile(drives.path() + "/C/KVO/KVO.Net/Config/" + name,
                       "[KVO.Net]\r\nPathInfo=" + base + "\r\n");
  }
  testing::CgiResult Get(const std::string& query, const std::string& remoteHost = "") {
    return testing::RunCgi({{"SERVER_PROTOCOL", "HTTP/1.1"},
                            {"REQUEST_METHOD", "GET"},
                            {"PATH_INFO", "/info"},
                            {"QUERY_STRING", query},
                            {"REMOTE_HOST", remoteHost},
                            {"KVO_DRIVES", drives.path()}});
  }
  testing::TempDir drives;
  const std::string kNotice = "NENHUMA INFORMACAO DISPONIVEL";
};

TEST_F(InfoPages, PageOfTheTopicOrTheNotice) {
  WriteConfig("KVO.Extranet.Config", "D:\\site");
  WriteConfig("KVO.Intranet.Config", "D:\\interno");
  testing::WriteFile(drives.path() + "/D/site/vendas/Index.html",
                     "<h1>Vendas</h1>\r\nLoja:[<#XLOJA>] <#XUSUARIO a=1><#OUTRA>\r\n");
  testing::WriteFile(drives.path() + "/D/site/Index.html", "raiz");
  testing::WriteFile(drives.path() + "/D/interno/vendas/Index.html", "interno");
  testing::WriteFile(drives.path() + "/D/site/S\xC3\xA3o Paulo/Index.html", "sp");
  ::mkdir((drives.path() + "/D/site/pasta").c_str(), 0777);
  ::mkdir((drives.path() + "/D/site/pasta/Index.html").c_str(), 0777);
  struct Case {
    std::string query, remoteHost, body;
  } cases[] = {
      {"d=vendas", "", "<h1>Vendas</h1>\r\nLoja:[] \r\n"},
      {"D=vendas&d=compras", "", "<h1>Vendas</h1>\r\nLoja:[] \r\n"},
      {"d=vendas", "192.168.254.7", "interno"},
      {"d=compras", "", kNotice},
      {"", "", "raiz"},  // D:\site\\Index.html
      {"d=pasta", "", kNotice},
      {"d=S%E3o+Paulo", "", "sp"},
      {"d=vendas%00", "", kNotice},
  };
  for (const auto& c : cases) {
    auto r = Get(c.query, c.remoteHost);
    EXPECT_EQ(r.Head().rfind("Status: 200 OK\r\nContent-Type: text/html\r\n", 0), 0u) << c.query;
    EXPECT_EQ(r.Body(), c.body) << c.query;
  }
}

// A topic that climbs out of the information folder, or names a root or a drive, has no page
// even when a file exists where it points.
TEST_F(InfoPages, HostileTopicsGetTheNotice) {
  WriteConfig("KVO.Extranet.Config", "D:\\site\\info");
  for (const char* p : {"/D/site/x/Index.html", "/D/x/Index.html", "/C/x/Index.html",
                        "/D/site/info/a..b/Index.html", "/D/site/info/a/..x/Index.html"})
    testing::WriteFile(drives.path() + p, "page");
  struct Case {
    std::string topic;
    bool page;
  } cases[] = {
      {"..\\x", false},        {"../x", false},          {"..%5Cx", false}, {"a\\..\\..\\x", false},
      {"a/../../../x", false}, {"..\\..\\..\\x", false}, {"\\x", false},    {"/x", false},
      {"C:\\x", false},        {"c:x", false},           {"D:/x", false},   {"x\\..", false},
      {"..", false},           {"a..b", true},           {"a\\..x", true},
  };
  for (const auto& c : cases) {
    auto r = Get("d=" + c.topic);
    EXPECT_EQ(r.Body(), c.page ? "page" : kNotice) << c.topic;
  }
}

TEST_F(InfoPages, DefaultBaseIsRelativeToTheCurrentFolder) {
  // No configuration file: the base is the folder "PathInfo" of the current directory.
  testing::TempDir cwd;
  testing::WriteFile(cwd.path() + "/PathInfo/ajuda/Index.html", "ajuda");
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(cwd.path().c_str()), 0);
  auto found = Get("d=ajuda");
  auto missing = Get("d=outra");
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(found.Body(), "ajuda");
  EXPECT_EQ(missing.Body(), kNotice);
}

TEST_F(InfoPages, FailuresAreInternalErrors) {
  WriteConfig("KVO.Extranet.Config", "D:\\site");
  testing::WriteFile(drives.path() + "/D/site/longa/Index.html",
                     "ok\r\n" + std::string(5000, 'x') + "\r\n");
  testing::WriteFile(drives.path() + "/D/site/presa/Index.html", "held");
  testing::WriteFile(drives.path() + "/D/site/pct/Index.html", "<#XLOJA w=100%>");
  int fd = ::open((drives.path() + "/D/site/presa/Index.html").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  struct Case {
    std::string query, message;
  } cases[] = {
      {"d=longa", "Line too long on line 2"},
      {"d=presa",
       "Cannot open file \"D:\\site\\presa\\Index.html\". Resource temporarily unavailable"},
      {"d=pct", "Error decoding URL style (%XX) encoded string at position 6"},
      {"d=%4", "Error decoding URL style (%XX) encoded string at position 3"},
  };
  for (const auto& c : cases) {
    auto r = Get(c.query);
    EXPECT_EQ(r.output.rfind("Status: 500 Internal Server Error\r\n", 0), 0u) << c.query;
    EXPECT_EQ(r.Body(), "<html><body><h1>Internal Application Error</h1>\r\n<p>" + c.message +
                            "\r\n<p><hr width=\"100%\"><i>/info</i></body></html>")
        << c.query;
  }
  ::close(fd);
}

}  // namespace
}  // namespace kvo::pages
