#include "tools/kvoclient/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <clocale>

#include "platform/error.h"

namespace kvo::kvoclient {

namespace {

std::string gEncoding = "UTF-8";

bool PassesAsItIs() {
  return gEncoding == "UTF-8" || gEncoding == "ANSI_X3.4-1968";
}

// One conversion descriptor for the life of a call.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(::iconv_open(to.c_str(), from.c_str())) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw Error("cannot convert between " + from + " and " + to + " text");
  }
  ~Converter() { ::iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts what it can of `in` onto `out`; returns how many bytes of `in` it took, stopping
  // at a sequence that is cut off (EINVAL) or invalid (EILSEQ, reported in `invalid`).
  size_t Convert(std::string_view in, std::string& out, bool& invalid) {
    invalid = false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      const size_t r = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      invalid = errno == EILSEQ;
      break;
    }
    return in.size() - srcLeft;
  }

 private:
  iconv_t cd_;
};

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t Utf8Length(unsigned char lead) {
  return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// UTF-8 to the terminal's encoding, "?" for each character it lacks. Without `final`, a cut-off
// sequence at the end is left in `in` for the next call.
std::string Encode(std::string& in, bool final) {
  Converter c(gEncoding + "//TRANSLIT", "UTF-8");
  std::string out;
  size_t at = 0;
  while (at < in.size()) {
    bool invalid = false;
    at += c.Convert(std::string_view(in).substr(at), out, invalid);
    if (at >= in.size()) break;
    if (!invalid && !final) break;
    out += '?';
    at += std::min(Utf8Length(static_cast<unsigned char>(in[at])), in.size() - at);
  }
  in.erase(0, at);
  return out;
}

}  // namespace

void UseLocaleEncoding() {
  if (!std::setlocale(LC_ALL, "")) return;
  const char* codeset = ::nl_langinfo(CODESET);
  gEncoding = codeset && *codeset ? codeset : "UTF-8";
  if (gEncoding == "ANSI_X3.4-1968") gEncoding = "UTF-8";
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  const std::string keep = ctype ? ctype : "C";
  std::setlocale(LC_ALL, "C");
  std::setlocale(LC_CTYPE, keep.c_str());
}

const std::string& TerminalEncoding() {
  return gEncoding;
}

std::string FromTerminal(std::string_view text, std::string_view what) {
  if (PassesAsItIs()) return std::string(text);
  Converter c("UTF-8", gEncoding);
  std::string out;
  bool invalid = false;
  if (c.Convert(text, out, invalid) != text.size())
    throw Error(std::string(what) + " is not valid " + gEncoding + " text");
  return out;
}

std::string ToTerminal(std::string_view utf8) {
  if (PassesAsItIs()) return std::string(utf8);
  std::string in(utf8);
  return Encode(in, true);
}

class TerminalStream::Buffer : public std::streambuf {
 public:
  explicit Buffer(std::ostream& target) : target_(target) {}
  void Finish() { Pass(true); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_ += traits_type::to_char_type(c);
    if (pending_.size() >= 8192) Pass(false);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<size_t>(n));
    if (pending_.size() >= 8192) Pass(false);
    return n;
  }
  int sync() override {
    Pass(false);
    target_.flush();
    return target_ ? 0 : -1;
  }

 private:
  void Pass(bool final) {
    if (PassesAsItIs()) {
      target_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
      pending_.clear();
      return;
    }
    const std::string out = Encode(pending_, final);
    target_.write(out.data(), static_cast<std::streamsize>(out.size()));
  }
  std::ostream& target_;
  std::string pending_;
};

TerminalStream::TerminalStream(std::ostream& target)
    : std::ostream(nullptr), buffer_(std::make_unique<Buffer>(target)) {
  rdbuf(buffer_.get());
}

TerminalStream::~TerminalStream() {
  buffer_->Finish();
  buffer_->pubsync();
}

}  // namespace kvo::kvoclient
