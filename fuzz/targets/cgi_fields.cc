// Request fields: the splitting and %-decoding of query strings and bodies, both directly and
// through a whole CGI request whose environment and body come from the input.
//
// Input: line 1 = QUERY_STRING, line 2 = CONTENT_LENGTH, line 3 = CONTENT_TYPE, rest = body.
#include <cstdlib>
#include <optional>

#include "cgi/fields.h"
#include "cgi/request.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = kvo::fuzz::AsText(data, size);
  try {
    kvo::cgi::DecodeField(text);
  } catch (const kvo::Error&) {
  }
  {
    // The compact list must see exactly the fields the split gives, after a failure too, and
    // find a name's value where a lookup in the split fields finds it.
    std::vector<std::string> out;
    kvo::cgi::FieldList list;
    try {
      kvo::cgi::SplitFields(text, "&\r\n", "\r\n", out);
    } catch (const kvo::Error&) {
    }
    try {
      list.Parse(text, "&\r\n", "\r\n");
    } catch (const kvo::Error&) {
    }
    if (list.Items() != out || list.Count() != out.size()) std::abort();
    if (!out.empty()) {
      const std::string& first = out.front();
      const std::string name = first.substr(0, first.find('='));
      if (first.find('=') != std::string::npos && list.Value(name) != first.substr(name.size() + 1))
        std::abort();
    }
  }
  try {
    std::vector<std::string> out;
    kvo::cgi::SplitFields(text, " \r\n", " \r\n", out);
  } catch (const kvo::Error&) {
  }

  std::string_view rest = text;
  std::string query(kvo::fuzz::TakeLine(rest));
  std::string length(kvo::fuzz::TakeLine(rest));
  std::string type(kvo::fuzz::TakeLine(rest));
  std::string body(rest);
  size_t offset = 0;
  kvo::cgi::CgiInput input;
  input.getenv = [&](const std::string& name) -> std::optional<std::string> {
    if (name == "REQUEST_METHOD") return std::string("POST");
    if (name == "QUERY_STRING") return query;
    if (name == "CONTENT_LENGTH") return length;
    if (name == "CONTENT_TYPE") return type;
    if (name == "PATH_INFO") return std::string("/sql");
    return std::nullopt;
  };
  input.read = [&](char* buffer, size_t count) -> long {
    size_t n = std::min(count, body.size() - offset);
    std::copy_n(body.data() + offset, n, buffer);
    offset += n;
    return static_cast<long>(n);
  };
  try {
    kvo::cgi::TWebRequest request(std::move(input));
    request.FieldByName("q");
    request.QueryFields().Value("db");
    request.ContentFields().Value("q");
    request.IntegerVariable(kvo::cgi::rvContentLength);
  } catch (const kvo::Error&) {
  }
  return 0;
}
