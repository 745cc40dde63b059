// The template renderer: tokens, tags and their parameters, the end at a 0 byte, the reading
// window's line limit, and templates read from files.
#include "pages/page_producer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/error.h"
#include "tests/support/cgi_runner.h"

namespace kvo::pages {
namespace {

// A producer whose handler answers from a table and records every call as
// "name(param|param)".
struct Recorder {
  TPageProducer producer;
  std::map<std::string, std::string> answers;
  std::vector<std::string> calls;
  Recorder() {
    producer.OnHTMLTag = [this](TPageProducer& sender, const std::string& tag,
                                const std::vector<std::string>& params, std::string& replace) {
      EXPECT_EQ(&sender, &producer);
      EXPECT_EQ(replace, "");
      std::string call = tag + "(";
      for (size_t i = 0; i < params.size(); ++i) call += (i ? "|" : "") + params[i];
      calls.push_back(call + ")");
      auto it = answers.find(tag);
      if (it != answers.end()) replace = it->second;
    };
  }
  std::string Render(std::string_view text) { return ProduceContentFromText(producer, text); }
};

std::string RenderError(Recorder& r, std::string_view text) {
  try {
    r.Render(text);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(Renderer, CopiesTextAndReplacesTags) {
  struct Case {
    std::string in, out, calls;
  } cases[] = {
      {"Loja:[ <#XLOJA> ]", "Loja:[ 12 ]", "XLOJA()"},
      {"<# XLOJA >", "12", "XLOJA()"},
      {"<#\r\n\tXLOJA\r\n>!", "12!", "XLOJA()"},
      {"<b>bold</b>", "<b>bold</b>", ""},
      {"<!-- x -->", "<!-- x -->", ""},
      {"a < b", "a <b", ""},
      {"a <\r\n  b>", "a <b>", ""},
      {"x<", "x<", ""},
      {"<<#XLOJA>", "<<#XLOJA>", ""},  // the second "<" is copied as the token after the first
      {"< #XLOJA>", "12", "XLOJA()"},
      {"<#UNKNOWN>", "", "UNKNOWN()"},
      {"a<#X>b<#XLOJA>c", "a+b12c", "X()|XLOJA()"},
      {"<#X>  \r\n  after", "+  \r\n  after", "X()"},
      {"before <#X", "before +", "X()"},
      {"before <#X a=1 b", "before +", "X(a=1|b)"},
      {"<#X2y_z>", "", "X2y_z()"},
      {"<#X-1>", "+", "X(-1)"},
      {"<#9a>", "", "9(a)"},
      {"<#>", "", ">()"},
      {"<#", "", "()"},
      {"a\0b<#X>", std::string("a"), ""},
      {std::string("a<#X\0>b", 7), "a+", "X()"},
      {"\xE7\xE3o <#X>\xFF", "\xE7\xE3o +\xFF", "X()"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    Recorder r;
    r.answers = {{"XLOJA", "12"}, {"X", "+"}};
    EXPECT_EQ(r.Render(c.in), c.out) << c.in;
    std::string calls;
    for (const auto& call : r.calls) calls += (calls.empty() ? "" : "|") + call;
    EXPECT_EQ(calls, c.calls) << c.in;
  }
}

TEST(Renderer, TagParameters) {
  struct Case {
    std::string in, call;
  } cases[] = {
      {"<#XLOJA a=1 b=\"x y\">", "XLOJA(a=1|b=x y)"},
      {"<#T   a=1 \r\n\r\n  b=2   >", "T(a=1|b=2)"},
      {"<#T a='x>y' b=\"it's\">", "T(a=x>y|b=it's)"},
      {"<#T a=\"x>y\">", "T(a=x>y)"},
      {"<#T a=\"x'>y\">", "T(a=x'>y)"},
      {"<#T \"a b\" c>", "T(a b|c)"},
      {"<#T a=b+c d=%41%42 e=%%>", "T(a=b c|d=AB|e=%)"},
      {"<#T a=%22x y%22>", "T(a=x|y)"},   // encoded quotes never group
      {"<#T\ta=1\tb=2>", "T(a=1\tb=2)"},  // tabs end the name, not a field
      {"<#T a=\"\">", "T(a=)"},
      {"<#T a=x\"y>", "T(a=xy>)"},  // the open quote hides the ">"
      {"<#T a='x\"y'>", "T(a=x\"y)"},
  };
  for (const auto& c : cases) {
    Recorder r;
    r.Render(c.in);
    ASSERT_EQ(r.calls.size(), 1u) << c.in;
    EXPECT_EQ(r.calls[0], c.call) << c.in;
  }
}

TEST(Renderer, QuotesKeptWhenStrippingIsOff) {
  Recorder r;
  r.producer.StripParamQuotes = false;
  r.Render("<#T a=1 b=\"x y\" c='z'>");
  EXPECT_EQ(r.calls, std::vector<std::string>{"T(a=1|b=\"x y\"|c='z')"});
}

TEST(Renderer, MalformedPercentFailsTheRendering) {
  struct Case {
    std::string in, message;
  } cases[] = {
      {"<#T w=100%>", "Error decoding URL style (%XX) encoded string at position 6"},
      {"<#T w=10%4>", "Error decoding URL style (%XX) encoded string at position 5"},
      {"<#T a=1 w=%zz>", "Invalid URL encoded character (%zz) at position 3"},
  };
  for (const auto& c : cases) {
    Recorder r;
    EXPECT_EQ(RenderError(r, c.in), c.message) << c.in;
    EXPECT_TRUE(r.calls.empty()) << c.in;
  }
}

TEST(Renderer, StripQuotePairsFromTheEnd) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"b=\"x y\"", "b=x y"}, {"a='it\"s'", "a=it\"s"},
      {"\"a\"'b'", "ab"},     {"a\"b", "ab"},
      {"'a\"b'\"", "ab'"},    {"x", "x"},
      {"\"'\"", "'"},         {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripQuotePairs(c.in), c.out) << c.in;
}

TEST(Renderer, NoHandlerEmptiesEveryTag) {
  TPageProducer p;
  EXPECT_EQ(ProduceContentFromText(p, "[<#A x=1>][<#B>]"), "[][]");
}

TEST(Renderer, HtmlDocLinesEndWithCrLf) {
  Recorder r;
  r.answers = {{"T", "x"}};
  r.producer.HTMLDoc = {"a", "<#T>", "b"};
  EXPECT_EQ(ProduceContent(r.producer), "a\r\nx\r\nb\r\n");
  r.producer.HTMLDoc = {"<#T", "b"};  // the unclosed tag takes the rest as parameters
  EXPECT_EQ(ProduceContent(r.producer), "x");
  EXPECT_EQ(r.calls.back(), "T(b)");
  r.producer.HTMLDoc.clear();
  EXPECT_EQ(ProduceContent(r.producer), "");
}

TEST(Renderer, LineLimitOfTheReadingWindow) {
  const std::string ok(4094, 'a');
  const std::string tooLong(4095, 'a');
  Recorder r;
  EXPECT_EQ(r.Render(ok), ok);
  EXPECT_EQ(r.Render(ok + "\n" + ok + "\n"), ok + "\n" + ok + "\n");
  // A CR before the line feed belongs to the line.
  EXPECT_EQ(r.Render("x\r\n" + ok.substr(1) + "\r\n"), "x\r\n" + ok.substr(1) + "\r\n");
  EXPECT_EQ(RenderError(r, "x\r\n" + ok + "\r\n"), "Line too long on line 2");
  EXPECT_EQ(RenderError(r, tooLong), "Line too long on line 1");
  EXPECT_EQ(RenderError(r, "a\nb\n" + tooLong + "\nc"), "Line too long on line 3");
  EXPECT_EQ(RenderError(r, "a\n" + ok + "\n" + ok + "a\nc"), "Line too long on line 3");
  // Blanks dropped after "<" and a tag's parameters still count their line feeds.
  EXPECT_EQ(RenderError(r, "<\n\nb <#T\n\n>\n" + tooLong), "Line too long on line 6");
  // The window is loaded before its tokens are read: a 0 byte on the long line does not help.
  EXPECT_EQ(RenderError(r, std::string("ab\0", 3) + tooLong), "Line too long on line 1");
  EXPECT_EQ(r.Render(std::string("ab\0\n", 4) + tooLong), "ab");
}

// Lines of every length around the window size, with tags near the window ends: the output
// must be the template with each tag replaced, whatever the windows' cuts.
TEST(Renderer, TagsAcrossManyWindows) {
  Recorder r;
  r.answers = {{"T", "<T>"}};
  std::string in, expected;
  for (size_t len : {4094u, 1u, 0u, 4000u, 95u, 4093u, 2048u, 2047u, 3u, 4094u, 4094u}) {
    std::string line(len, 'x');
    if (len >= 10) {
      line.replace(len - 6, 6, "<#T  >");
      expected += line.substr(0, len - 6) + "<T>";
    } else {
      expected += line;
    }
    in += line + "\n";
    expected += "\n";
  }
  in += "<\n#\n T a=1\n>";
  expected += "<T>";
  EXPECT_EQ(r.Render(in), expected);
  EXPECT_EQ(r.calls.back(), "T(a=1)");
}

class TemplateFiles : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KVO_DRIVES", drives.path().c_str(), 1); }
  void TearDown() override { unsetenv("KVO_DRIVES"); }
  testing::TempDir drives;
};

TEST_F(TemplateFiles, FileTakesPrecedenceOverHtmlDoc) {
  testing::WriteFile(drives.path() + "/D/site/p\xC3\xA1g.html",
                     std::string("<p><#T></p>\r\n\0tail", 18));
  Recorder r;
  r.answers = {{"T", "x"}};
  r.producer.HTMLDoc = {"doc"};
  r.producer.SetHTMLFile("D:\\site\\p\xE1g.html");
  EXPECT_TRUE(r.producer.HTMLDoc.empty());
  EXPECT_EQ(ProduceContent(r.producer), "<p>x</p>\r\n");
}

TEST_F(TemplateFiles, SameNameKeepsHtmlDoc) {
  TPageProducer p;
  p.SetHTMLFile("D:\\Site\\\xC1.html");
  p.HTMLDoc = {"doc"};
  p.SetHTMLFile("d:\\sITE\\\xE1.HTML");
  EXPECT_EQ(p.HTMLDoc, std::vector<std::string>{"doc"});
  p.SetHTMLFile("d:\\other.html");
  EXPECT_TRUE(p.HTMLDoc.empty());
}

TEST_F(TemplateFiles, OpenFailures) {
  testing::WriteFile(drives.path() + "/D/site/held.html", "<#T>");
  ::mkdir((drives.path() + "/D/site/folder").c_str(), 0777);
  TPageProducer p;
  auto message = [&p](const std::string& file) -> std::string {
    p.SetHTMLFile(file);
    try {
      ProduceContent(p);
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), "EFOpenError");
      return e.what();
    }
    return "(no failure)";
  };
  EXPECT_EQ(message("D:\\site\\missing.html"),
            "Cannot open file \"D:\\site\\missing.html\". No such file or directory");
  EXPECT_EQ(message("D:\\site\\folder"), "Cannot open file \"D:\\site\\folder\". Is a directory");
  ASSERT_EQ(::mkfifo((drives.path() + "/D/site/fifo.html").c_str(), 0666), 0);
  EXPECT_EQ(message("D:\\site\\fifo.html"),
            "Cannot open file \"D:\\site\\fifo.html\". Not a regular file");

  // A writer holding the file exclusively shuts the renderer out.
  int fd = ::open((drives.path() + "/D/site/held.html").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(message("D:/site/held.html"),
            "Cannot open file \"D:\\site\\held.html\". Resource temporarily unavailable");
  ::close(fd);
  EXPECT_EQ(message("D:/site/held.html"), "(no failure)");
}

TEST_F(TemplateFiles, LongLineInAFile) {
  testing::WriteFile(drives.path() + "/D/long.html", "ok\n" + std::string(5000, 'z') + "\n");
  TPageProducer p;
  p.SetHTMLFile("D:\\long.html");
  try {
    ProduceContent(p);
    ADD_FAILURE() << "no failure";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Line too long on line 2");
  }
}

}  // namespace
}  // namespace kvo::pages
