#include "cgi/response.h"

#include "platform/markup.h"

#include <unistd.h>

#include <cerrno>

namespace kvo::cgi {

namespace {

const char* ReasonFor(int32_t code) {
  switch (code) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      return "";
  }
}

}  // namespace

OutputFn ProcessOutput() {
  return [](const char* bytes, size_t count) -> size_t {
    size_t done = 0;
    while (done < count) {
      ssize_t n = ::write(1, bytes + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  };
}

TWebResponse::TWebResponse(TWebRequest& request, OutputFn out)
    : request_(request), out_(std::move(out)) {}

void TWebResponse::SetStatusCode(int32_t code) {
  if (code == status_) return;
  status_ = code;
  reason_ = ReasonFor(code);
}

void TWebResponse::SetContent(std::string content) {
  content_ = std::move(content);
  contentLength_ = static_cast<int32_t>(content_.size());
}

void TWebResponse::SetFailureContent(std::string content) {
  SetContent(std::move(content));
  failure_ = true;
}

bool TWebResponse::WriteString(std::string_view text) {
  if (text.empty()) return false;
  return WriteClient(text.data(), text.size()) == text.size();
}

size_t TWebResponse::WriteClient(const char* bytes, size_t count) {
  return out_ ? out_(bytes, count) : 0;
}

void TWebResponse::SendResponse() {
  if (!request_.StringVariable(rvProtocol).empty()) {
    std::string status = (!reason_.empty() && status_ > 0) ? std::to_string(status_) + " " + reason_
                                                           : std::string("200 OK");
    std::string head = "Status: " + status + "\r\n";
    if (!contentType_.empty()) head += "Content-Type: " + contentType_ + "\r\n";
    head += (failure_ || !browserPage_) ? kInertHeaders : kNoSniffHeader;
    if (!content_.empty()) head += "Content-Length: " + std::to_string(contentLength_) + "\r\n";
    head += "Content:\r\n\r\n";
    // Header block and body leave in one write where the body is small.
    if (content_.size() <= 64 * 1024) {
      head += content_;
      WriteString(head);
    } else {
      WriteString(head);
      WriteString(content_);
    }
  } else {
    WriteString(content_);
  }
  sent_ = true;
}

void TWebResponse::SendStream(platform::MemoryStream& stream) {
  char buffer[8192];
  while (stream.Position() < stream.Size()) {
    size_t n = stream.Read(buffer, sizeof buffer);
    if (n == 0) break;
    WriteClient(buffer, n);
  }
}

void TWebResponse::InternalErrorPage(std::string_view message) {
  std::string page = "<html><body><h1>Internal Application Error</h1>\r\n<p>";
  page += platform::HtmlEscapeText(message);
  page += "\r\n<p><hr width=\"100%\"><i>";
  page += platform::HtmlEscapeText(request_.PathInfo());
  page += "</i></body></html>";
  SetFailureContent(std::move(page));
  if (!sent_) {
    SetStatusCode(500);
    SendResponse();
  }
}

void ServerErrorAnswer(const OutputFn& out, std::string_view typeName, std::string_view message) {
  std::string body = "<html><title>Internal Server Error 500</title>\r\n";
  body += "<h1>Internal Server Error 500</h1><hr>\r\n";
  body += "Exception: ";
  body += typeName;
  body += "<br>\r\nMessage: ";
  body += platform::HtmlEscapeText(message);
  body += "<br></html>\r\n";
  // The message stands as the reason phrase: without its line ends it cannot add header lines.
  std::string reason;
  for (char c : message)
    if (c != '\r' && c != '\n') reason += c;
  std::string head = "Status: 500 " + reason + "\r\nContent-Type: text/html\r\n" + kInertHeaders +
                     "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  if (out) {
    out(head.data(), head.size());
    out(body.data(), body.size());
  }
}

}  // namespace kvo::cgi
