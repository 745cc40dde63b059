// The CGI request: the 29 request variables by index, the body read from standard input at
// creation, and the query and content field lists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cgi/fields.h"

namespace kvo::cgi {

enum class TMethodType { mtAny, mtGet, mtPut, mtPost, mtHead };

// Indexes of the request variables.
enum RequestVariable : int {
  rvMethod = 0,
  rvProtocol = 1,
  rvURL = 2,
  rvQuery = 3,
  rvPathInfo = 4,
  rvPathTranslated = 5,
  rvCacheControl = 6,
  rvDate = 7,
  rvAccept = 8,
  rvFrom = 9,
  rvHost = 10,
  rvIfModifiedSince = 11,
  rvReferer = 12,
  rvUserAgent = 13,
  rvContentEncoding = 14,
  rvContentType = 15,
  rvContentLength = 16,
  rvContentVersion = 17,
  rvDerivedFrom = 18,
  rvExpires = 19,
  rvTitle = 20,
  rvRemoteAddr = 21,
  rvRemoteHost = 22,
  rvScriptName = 23,
  rvServerPort = 24,
  rvContent = 25,
  rvConnection = 26,
  rvCookie = 27,
  rvAuthorization = 28,
};
inline constexpr int kRequestVariableCount = 29;

// Where the request comes from: an environment lookup (nullopt = unset) and a reader of
// standard input (returns bytes read, 0 at the end, negative on failure).
struct CgiInput {
  std::function<std::optional<std::string>(const std::string& name)> getenv;
  std::function<long(char* buffer, size_t count)> read;
  // Whether the web server still waits for the answer (empty: always). Asked just before a
  // request's work commits: work whose answer can no longer be delivered is rolled back, as the
  // caller was told it failed. Never consumes request data.
  std::function<bool()> stillWanted;
  // The process's real environment and standard input; the answer is wanted while standard
  // output is still connected.
  static CgiInput Process();
};

class TWebRequest {
 public:
  // Sets MethodType, then reads the body (CONTENT_LENGTH bytes at most).
  explicit TWebRequest(CgiInput input);

  std::string StringVariable(int index) const;
  // Signed 32-bit value of the variable; -1 when empty or not a number.
  int32_t IntegerVariable(int index) const;
  std::string PathInfo() const { return StringVariable(rvPathInfo); }
  TMethodType MethodType() const { return method_; }
  const std::string& RequestBody() const { return body_; }
  // Reads up to `count` more bytes from standard input.
  std::string ReadString(size_t count);
  // Whether the web server still waits for the answer (CgiInput::stillWanted).
  bool StillWanted() const;

  // Built on first use and kept; a decoding failure throws and leaves the partial list. The
  // content list refers to the body (RequestBody), which is not changed afterwards.
  const FieldList& QueryFields();
  const FieldList& ContentFields();

  // The environment lookup with the HTTP_ fallback.
  std::string FieldByName(const std::string& name) const;

 private:
  CgiInput input_;
  TMethodType method_ = TMethodType::mtAny;
  std::string body_;
  std::string queryText_;  // what query_ refers to
  std::unique_ptr<FieldList> query_;
  std::unique_ptr<FieldList> content_;
};

}  // namespace kvo::cgi
