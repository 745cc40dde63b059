// Exact bytes of the CGI answers.
#include "cgi/response.h"

#include <gtest/gtest.h>

#include <map>

namespace kvo::cgi {
namespace {

struct Harness {
  std::map<std::string, std::string> env;
  std::string written;
  std::unique_ptr<TWebRequest> request;
  std::unique_ptr<TWebResponse> response;

  explicit Harness(std::map<std::string, std::string> e) : env(std::move(e)) {
    CgiInput in;
    in.getenv = [this](const std::string& n) -> std::optional<std::string> {
      auto it = env.find(n);
      return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    in.read = [](char*, size_t) -> long { return 0; };
    request = std::make_unique<TWebRequest>(in);
    response = std::make_unique<TWebResponse>(*request, [this](const char* b, size_t n) {
      written.append(b, n);
      return n;
    });
  }
};

const std::map<std::string, std::string> kHttp = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                                                  {"PATH_INFO", "/kml"}};

TEST(Response, EmptyAnswer) {
  Harness h(kHttp);
  h.response->SendResponse();
  EXPECT_EQ(h.written,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n");
  EXPECT_TRUE(h.response->Sent());
}

TEST(Response, ContentWithLength) {
  Harness h(kHttp);
  h.response->SetContent("true");
  h.response->SendResponse();
  EXPECT_EQ(h.written,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Security-Policy: "
            "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent-Length: 4\r\nContent:\r\n\r\n"
            "true");
}

TEST(Response, LargeContentInOnePiece) {
  Harness h(kHttp);
  h.response->SetContent(std::string(20000, 'x'));
  h.response->SendResponse();
  EXPECT_NE(h.written.find("Content-Length: 20000\r\n"), std::string::npos);
  EXPECT_EQ(h.written.size(), h.written.find("\r\n\r\n") + 4 + 20000);
}

TEST(Response, StreamAfterHeadersWithoutLength) {
  Harness h(kHttp);
  h.response->SetContentType("application/octet-stream");
  h.response->SendResponse();
  platform::MemoryStream s(std::string(20000, 'z') + "END");
  s.SetPosition(3);
  h.response->SendStream(s);
  const std::string head =
      "Status: 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Security-Policy: "
      "sandbox\r\nX-Content-Type-Options: nosniff\r\nContent:\r\n\r\n";
  EXPECT_EQ(h.written.substr(0, head.size() + 2), head + "zz");
  EXPECT_EQ(h.written.size(), head.size() + 20000 - 3 + 3);
  EXPECT_EQ(s.Position(), s.Size());
  h.response->SendStream(s);  // at its end: nothing more
  EXPECT_EQ(h.written.size(), head.size() + 20000);
}

TEST(Response, SendStreamLeavesSentAlone) {
  Harness h(kHttp);
  platform::MemoryStream s("abc");
  h.response->SendStream(s);
  EXPECT_FALSE(h.response->Sent());
  EXPECT_EQ(h.written, "abc");
}

TEST(Response, NoProtocolWritesBodyAlone) {
  Harness h(std::map<std::string, std::string>{{"PATH_INFO", "/x"}});
  h.response->SetContent("body");
  h.response->SendResponse();
  EXPECT_EQ(h.written, "body");
}

TEST(Response, InternalErrorPage) {
  Harness h(kHttp);
  h.response->InternalErrorPage("boom");
  const std::string body =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>boom\r\n<p><hr width=\"100%\">"
      "<i>/kml</i></body></html>";
  ASSERT_EQ(body.size(), 103u);
  EXPECT_EQ(h.written,
            "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n"
            "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n"
            "Content-Length: 103\r\nContent:\r\n\r\n" +
                body);
}

// Answers carry what a caller posted or a database holds (a host name inside Firebird's
// message, a table's name) as it is: a browser gets every answer with the headers that keep it
// from running script, except the pages made for a browser, which are never read as another
// type and keep their scripts unless they show a failure.
TEST(Response, AnswersGoOutInertButBrowserPages) {
  const std::string kInert =
      "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n";
  const std::string kNoSniff = "X-Content-Type-Options: nosniff\r\n";
  struct Case {
    const char* name;
    bool failure, stream, browserPage;
    const std::string& headers;
  } cases[] = {
      {"ordinary content", false, false, false, kInert},
      {"failure content", true, false, false, kInert},
      {"ordinary stream", false, true, false, kInert},
      {"browser page", false, false, true, kNoSniff},
      {"browser page showing a failure", true, false, true, kInert},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(kHttp);
    const std::string body = "<img src=x onerror=alert(1)>";
    if (c.browserPage) h.response->SetBrowserPage();
    if (c.stream) {
      h.response->SetContentType("application/octet-stream");
    } else if (c.failure) {
      h.response->SetFailureContent(body);
    } else {
      h.response->SetContent(body);
    }
    h.response->SendResponse();
    // Right after the content type, as the only such lines, and the body's bytes unchanged.
    const std::string type = c.stream ? "application/octet-stream" : "text/html";
    const std::string head = "Status: 200 OK\r\nContent-Type: " + type + "\r\n" + c.headers;
    EXPECT_EQ(h.written.substr(0, head.size()), head);
    EXPECT_EQ(h.written.find("Content-Security-Policy", head.size()), std::string::npos);
    EXPECT_EQ(h.written.find("X-Content-Type-Options", head.size()), std::string::npos);
    if (!c.stream) {
      EXPECT_EQ(h.written.substr(h.written.size() - body.size()), body);
    }
  }
}

// The 500 page is read by no client: its message and path lose their markup, nothing else.
TEST(Response, InternalErrorPageEscapesMarkupOnly) {
  struct Case {
    const char* message;
    const char* path;
    const char* shownMessage;
    const char* shownPath;
  } cases[] = {
      {"host \"<img src=x onerror=alert(1)>\"", "/sql",
       "host \"&lt;img src=x onerror=alert(1)&gt;\"", "/sql"},
      {"a & b 'c' \xE7", "/<script>&", "a &amp; b 'c' \xE7", "/&lt;script&gt;&amp;"},
      {"&amp;", "/x", "&amp;amp;", "/x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Harness h({{"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", c.path}});
    h.response->InternalErrorPage(c.message);
    EXPECT_EQ(h.response->Content(), std::string("<html><body><h1>Internal Application "
                                                 "Error</h1>\r\n<p>") +
                                         c.shownMessage + "\r\n<p><hr width=\"100%\"><i>" +
                                         c.shownPath + "</i></body></html>");
  }
}

TEST(Response, InternalErrorPageAfterSendWritesNothing) {
  Harness h(kHttp);
  h.response->SendResponse();
  const std::string before = h.written;
  h.response->InternalErrorPage("late");
  EXPECT_EQ(h.written, before);
}

TEST(Response, StatusChangesReason) {
  Harness h(kHttp);
  h.response->SetStatusCode(500);
  EXPECT_EQ(h.response->ReasonString(), "Internal Server Error");
  h.response->SetStatusCode(200);
  EXPECT_EQ(h.response->ReasonString(), "OK");
}

TEST(ServerErrorAnswer, ExactBytesAndNoHeaderInjection) {
  std::string out;
  OutputFn fn = [&](const char* b, size_t n) {
    out.append(b, n);
    return n;
  };
  ServerErrorAnswer(fn, "EOutOfMemory", "bad\r\nSet-Cookie: x=1 <b>&</b>");
  const std::string body =
      "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>"
      "\r\nException: EOutOfMemory<br>\r\nMessage: bad\r\nSet-Cookie: x=1 &lt;b&gt;&amp;&lt;/b&gt;"
      "<br></html>\r\n";
  EXPECT_EQ(out,
            "Status: 500 badSet-Cookie: x=1 <b>&</b>\r\nContent-Type: text/html\r\n"
            "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n"
            "Content-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
}

}  // namespace
}  // namespace kvo::cgi
