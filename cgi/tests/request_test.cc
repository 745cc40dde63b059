// The request built from environment and standard-input fixtures.
#include "cgi/request.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/error.h"

namespace kvo::cgi {
namespace {

struct Fixture {
  std::map<std::string, std::string> env;
  std::string input;
  size_t readCalls = 0;
  size_t maxChunk = 1 << 20;

  CgiInput Input() {
    CgiInput in;
    in.getenv = [this](const std::string& name) -> std::optional<std::string> {
      auto it = env.find(name);
      if (it == env.end()) return std::nullopt;
      return it->second;
    };
    in.read = [this](char* buffer, size_t count) -> long {
      ++readCalls;
      size_t n = std::min({count, input.size(), maxChunk});
      std::copy_n(input.data(), n, buffer);
      input.erase(0, n);
      return static_cast<long>(n);
    };
    return in;
  }
};

TEST(Request, VariableLookupFallsBackOnce) {
  Fixture f;
  f.env = {{"HTTP_REMOTE_HOST", "192.168.254.3"},
           {"CONTENT_LENGTH", "0"},
           {"HTTP_CONTENT_LENGTH", ""},
           {"SERVER_PORT", "8080"},
           {"REMOTE_ADDR", ""}};
  TWebRequest r(f.Input());
  EXPECT_EQ(r.StringVariable(rvRemoteHost), "192.168.254.3");
  EXPECT_EQ(r.StringVariable(rvContentLength), "0");
  EXPECT_EQ(r.IntegerVariable(rvServerPort), 8080);
  EXPECT_EQ(r.StringVariable(rvRemoteAddr), "");
  EXPECT_EQ(r.StringVariable(rvUserAgent), "");
  EXPECT_EQ(r.IntegerVariable(rvContentLength), 0);
}

TEST(Request, NonEmptyHttpContentLengthWins) {
  Fixture f;
  f.env = {{"HTTP_CONTENT_LENGTH", "3"}, {"CONTENT_LENGTH", "5"}};
  f.input = "abcdef";
  TWebRequest r(f.Input());
  EXPECT_EQ(r.RequestBody(), "abc");
}

TEST(Request, IntegerVariables) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"", -1},           {"abc", -1}, {"12", 12}, {"-7", -7}, {"2147483647", 2147483647},
               {"2147483648", -1}, {"12x", -1}, {"$1F", 31}};
  for (const auto& c : cases) {
    Fixture f;
    f.env = {{"SERVER_PORT", c.text}};
    TWebRequest r(f.Input());
    EXPECT_EQ(r.IntegerVariable(rvServerPort), c.value) << "text: " << c.text;
  }
}

TEST(Request, MethodTypes) {
  struct Case {
    const char* method;
    TMethodType type;
  } cases[] = {{"GET", TMethodType::mtGet},     {"post", TMethodType::mtPost},
               {"Put", TMethodType::mtPut},     {"HEAD", TMethodType::mtHead},
               {"OPTIONS", TMethodType::mtAny}, {"", TMethodType::mtAny},
               {"GETX", TMethodType::mtAny}};
  for (const auto& c : cases) {
    Fixture f;
    f.env = {{"REQUEST_METHOD", c.method}};
    EXPECT_EQ(TWebRequest(f.Input()).MethodType(), c.type) << c.method;
  }
}

TEST(Request, BodyReadingRule) {
  struct Case {
    const char* length;
    std::string input;
    std::string body;
    bool stdinTouched;
  } cases[] = {
      {nullptr, "a=1", "", false}, {"abc", "a=1", "", false},    {"0", "a=1", "", false},
      {"-5", "a=1", "", false},    {"10", "a=1&", "a=1&", true}, {"3", "a=1&b=2", "a=1", true},
  };
  for (const auto& c : cases) {
    Fixture f;
    if (c.length) f.env["CONTENT_LENGTH"] = c.length;
    f.input = c.input;
    f.maxChunk = 1;  // the body arrives one byte a read
    TWebRequest r(f.Input());
    EXPECT_EQ(r.RequestBody(), c.body) << (c.length ? c.length : "(unset)");
    EXPECT_EQ(f.readCalls > 0, c.stdinTouched) << (c.length ? c.length : "(unset)");
    EXPECT_EQ(r.StringVariable(rvContent), c.body);
  }
}

TEST(Request, HugeDeclaredLengthDoesNotReserveIt) {
  Fixture f;
  f.env = {{"CONTENT_LENGTH", "2000000000"}};
  f.input = "0123456789";
  TWebRequest r(f.Input());  // would need 2 GB if reserved up front
  EXPECT_EQ(r.RequestBody(), "0123456789");
  EXPECT_LT(r.RequestBody().capacity(), 1u << 20);
  EXPECT_EQ(r.ContentFields().Value("0123456789"), "");
  EXPECT_EQ(r.ContentFields().Count(), 1u);
}

TEST(Request, ContentAndQueryFields) {
  Fixture f;
  f.env = {{"QUERY_STRING", "a=1&a=2&DB=x"}, {"CONTENT_LENGTH", "13"}};
  f.input = "u=joe\r\np=s+3";
  TWebRequest r(f.Input());
  EXPECT_EQ(r.QueryFields().Value("a"), "1");
  EXPECT_EQ(r.QueryFields().Value("db"), "x");
  EXPECT_EQ(r.ContentFields().Value("u"), "joe");
  EXPECT_EQ(r.ContentFields().Value("p"), "s 3");
  EXPECT_EQ(r.ContentFields().Value("a"), "");  // the query is not the body
}

TEST(Request, DecodingFailureLeavesPartialListForLaterReads) {
  Fixture f;
  f.env = {{"QUERY_STRING", "a=1&x=%zz&b=2"}};
  TWebRequest r(f.Input());
  EXPECT_THROW(r.QueryFields(), Error);
  // The list is not built again: later reads see the fields before the failing one.
  EXPECT_EQ(r.QueryFields().Count(), 1u);
  EXPECT_EQ(r.QueryFields().Value("a"), "1");
  EXPECT_EQ(r.QueryFields().Value("b"), "");
}

}  // namespace
}  // namespace kvo::cgi
