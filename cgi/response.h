// The CGI response: status, content type and content, written to standard output in the form
// the web server expects, and the two answers to failures that no action handles.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cgi/request.h"
#include "platform/stream.h"

namespace kvo::cgi {

// Writes bytes to standard output; returns the number written.
using OutputFn = std::function<size_t(const char* bytes, size_t count)>;
OutputFn ProcessOutput();

class TWebResponse {
 public:
  TWebResponse(TWebRequest& request, OutputFn out);

  int32_t StatusCode() const { return status_; }
  void SetStatusCode(int32_t code);
  const std::string& ReasonString() const { return reason_; }
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(std::string type) { contentType_ = std::move(type); }
  const std::string& Content() const { return content_; }
  void SetContent(std::string content);
  // Content that shows a failure text, which may carry bytes a caller chose (a posted host
  // name inside a Firebird message, say). The body goes out unchanged, because clients take it
  // apart, but with the headers of kInertHeaders, so that a browser neither runs script in it
  // nor reads it as another type.
  void SetFailureContent(std::string content);
  bool ShowsFailure() const { return failure_; }
  // Marks the answer as a page made for a browser (the site, information, remote-desktop and
  // connection-test pages), whose scripts, controls and images must work: unless it shows a
  // failure it goes out with kNoSniffHeader only. Every other answer carries kInertHeaders,
  // since many carry text from a database or a caller as it is.
  void SetBrowserPage() { browserPage_ = true; }
  int32_t ContentLength() const { return contentLength_; }
  bool Sent() const { return sent_; }

  // Status line, headers ending with "Content:" and an empty line, then Content; sets Sent.
  void SendResponse();
  // Writes the stream's bytes from its position in pieces of 8192 bytes; leaves Sent alone.
  void SendStream(platform::MemoryStream& stream);
  // The web module's answer to a failing action (status 500) unless already Sent. No client
  // reads this page, so "&", "<" and ">" of the message and the path go in as entities.
  void InternalErrorPage(std::string_view message);

  bool WriteString(std::string_view text);
  size_t WriteClient(const char* bytes, size_t count);

 private:
  TWebRequest& request_;
  OutputFn out_;
  int32_t status_ = 200;
  std::string reason_ = "OK";
  std::string contentType_ = "text/html";
  std::string content_;
  int32_t contentLength_ = 0;
  bool sent_ = false;
  bool failure_ = false;
  bool browserPage_ = false;
};

// The header lines (each ending in CR LF) of every answer but a browser page's (SetBrowserPage),
// and of every answer that shows a failure text.
inline constexpr char kInertHeaders[] =
    "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\n";
// The header line of a browser page: never read as another type than the one it names.
inline constexpr char kNoSniffHeader[] = "X-Content-Type-Options: nosniff\r\n";

// The answer to a failure outside dispatch, written straight to `out`, with kInertHeaders and
// the message's "&", "<" and ">" as entities in the body.
void ServerErrorAnswer(const OutputFn& out, std::string_view typeName, std::string_view message);

}  // namespace kvo::cgi
