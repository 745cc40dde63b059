#include "cgi/request.h"

#include "cgi/caller_waits.h"
#include "platform/ascii.h"
#include "platform/numbers.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace kvo::cgi {

namespace {

const char* const kVariableNames[kRequestVariableCount] = {"REQUEST_METHOD",
                                                           "SERVER_PROTOCOL",
                                                           "URL",
                                                           "QUERY_STRING",
                                                           "PATH_INFO",
                                                           "PATH_TRANSLATED",
                                                           "HTTP_CACHE_CONTROL",
                                                           "HTTP_DATE",
                                                           "HTTP_ACCEPT",
                                                           "HTTP_FROM",
                                                           "HTTP_HOST",
                                                           "HTTP_IF_MODIFIED_SINCE",
                                                           "HTTP_REFERER",
                                                           "HTTP_USER_AGENT",
                                                           "HTTP_CONTENT_ENCODING",
                                                           "HTTP_CONTENT_TYPE",
                                                           "HTTP_CONTENT_LENGTH",
                                                           "HTTP_CONTENT_VERSION",
                                                           "HTTP_DERIVED_FROM",
                                                           "HTTP_EXPIRES",
                                                           "HTTP_TITLE",
                                                           "REMOTE_ADDR",
                                                           "REMOTE_HOST",
                                                           "SCRIPT_NAME",
                                                           "SERVER_PORT",
                                                           "",
                                                           "HTTP_CONNECTION",
                                                           "HTTP_COOKIE",
                                                           "HTTP_AUTHORIZATION"};

}  // namespace

CgiInput CgiInput::Process() {
  CgiInput in;
  in.getenv = [](const std::string& name) -> std::optional<std::string> {
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
  in.read = [](char* buffer, size_t count) -> long {
    while (true) {
      ssize_t n = ::read(0, buffer, count);
      if (n < 0 && errno == EINTR) continue;
      return static_cast<long>(n);
    }
  };
  in.stillWanted = [] { return AnswerPipeConnected(1); };
  return in;
}

TWebRequest::TWebRequest(CgiInput input) : input_(std::move(input)) {
  const std::string method = StringVariable(rvMethod);
  if (platform::SameTextAscii(method, "GET"))
    method_ = TMethodType::mtGet;
  else if (platform::SameTextAscii(method, "PUT"))
    method_ = TMethodType::mtPut;
  else if (platform::SameTextAscii(method, "POST"))
    method_ = TMethodType::mtPost;
  else if (platform::SameTextAscii(method, "HEAD"))
    method_ = TMethodType::mtHead;
  const int32_t length = IntegerVariable(rvContentLength);
  if (length > 0) body_ = ReadString(static_cast<size_t>(length));
}

bool TWebRequest::StillWanted() const {
  return !input_.stillWanted || input_.stillWanted();
}

std::string TWebRequest::FieldByName(const std::string& name) const {
  std::optional<std::string> value = input_.getenv ? input_.getenv(name) : std::nullopt;
  if (value && !value->empty()) return *value;
  const std::string other = name.rfind("HTTP_", 0) == 0 ? name.substr(5) : "HTTP_" + name;
  value = input_.getenv ? input_.getenv(other) : std::nullopt;
  return value ? *value : std::string();
}

std::string TWebRequest::StringVariable(int index) const {
  if (index == rvContent) return body_;
  if (index < 0 || index >= kRequestVariableCount) return {};
  return FieldByName(kVariableNames[index]);
}

int32_t TWebRequest::IntegerVariable(int index) const {
  int32_t value;
  return platform::ParseInt32(StringVariable(index), value) ? value : -1;
}

std::string TWebRequest::ReadString(size_t count) {
  // Grows as bytes arrive: a declared length is a promise of the caller, not an allocation.
  std::string out;
  constexpr size_t kChunk = 64 * 1024;
  while (out.size() < count && input_.read) {
    size_t want = std::min(kChunk, count - out.size());
    size_t old = out.size();
    out.resize(old + want);
    long got = input_.read(out.data() + old, want);
    if (got <= 0) {
      out.resize(old);
      break;
    }
    out.resize(old + static_cast<size_t>(got));
  }
  return out;
}

const FieldList& TWebRequest::QueryFields() {
  if (!query_) {
    query_ = std::make_unique<FieldList>();
    queryText_ = StringVariable(rvQuery);
    query_->Parse(queryText_, "&\r\n", "\r\n");
  }
  return *query_;
}

const FieldList& TWebRequest::ContentFields() {
  if (!content_) {
    content_ = std::make_unique<FieldList>();
    const int32_t length = IntegerVariable(rvContentLength);
    if (length > 0) {
      // The list refers to the body itself: a body is never held twice.
      if (body_.size() < static_cast<size_t>(length))
        body_ += ReadString(static_cast<size_t>(length) - body_.size());
      content_->Parse(body_, "&\r\n", "\r\n");
    }
  }
  return *content_;
}

}  // namespace kvo::cgi
