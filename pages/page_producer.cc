#include "pages/page_producer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cgi/fields.h"
#include "platform/error.h"
#include "platform/file_errors.h"
#include "platform/files.h"
#include "platform/unique_fd.h"
#include "platform/wincase.h"
#include "platform/winpath.h"

namespace kvo::pages {

namespace {

// Where the template bytes come from. Read fills up to `count` bytes and returns how many;
// 0 means the end of the template.
class Source {
 public:
  virtual ~Source() = default;
  virtual size_t Read(char* buffer, size_t count) = 0;
};

class TextSource : public Source {
 public:
  explicit TextSource(std::string_view text) : rest_(text) {}
  size_t Read(char* buffer, size_t count) override {
    size_t n = std::min(count, rest_.size());
    std::memcpy(buffer, rest_.data(), n);
    rest_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view rest_;
};

// HTMLDoc streamed line by line with CR LF after each line, without joining the list first.
class LinesSource : public Source {
 public:
  explicit LinesSource(const std::vector<std::string>& lines) : lines_(lines) {}
  size_t Read(char* buffer, size_t count) override {
    size_t done = 0;
    while (done < count && line_ < lines_.size()) {
      const std::string& l = lines_[line_];
      if (offset_ < l.size()) {
        size_t n = std::min(count - done, l.size() - offset_);
        std::memcpy(buffer + done, l.data() + offset_, n);
        done += n;
        offset_ += n;
      } else {
        buffer[done++] = offset_ == l.size() ? '\r' : '\n';
        if (++offset_ == l.size() + 2) {
          ++line_;
          offset_ = 0;
        }
      }
    }
    return done;
  }

 private:
  const std::vector<std::string>& lines_;
  size_t line_ = 0;
  size_t offset_ = 0;  // within the line and its CR LF
};

// The template file, open for reading under a shared lock for as long as it is rendered: a
// writer that takes the lock exclusively cannot change it under the renderer, and a file that
// such a writer holds cannot be opened.
class FileSource : public Source {
 public:
  explicit FileSource(std::string_view windowsPath) : file_(windowsPath) {
    while (::flock(file_.fd(), LOCK_SH | LOCK_NB) != 0) {
      if (errno != EINTR) throw platform::CannotOpenFile(windowsPath, errno);
    }
  }

  size_t Read(char* buffer, size_t count) override { return file_.Read(buffer, count); }

 private:
  platform::ReadableFile file_;  // closing drops the lock
};

// The reading window: at most kWindowBytes bytes of the template, always ending right after a
// line feed (or at the end of the template), refilled when the tokens have used it up. The
// part of a line that did not fit is carried to the start of the next window, so every window
// starts at a line start and a line plus its line feed must fit: lines of up to
// kWindowBytes - 1 = 4094 bytes work, longer ones fail.
constexpr size_t kWindowBytes = 4095;

class Window {
 public:
  explicit Window(Source& source) : source_(source) {}

  // The next byte (0..255), or -1 at the end of the template.
  int Peek() {
    if (pos_ == end_ && !Refill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  // Passes the byte that Peek returned.
  void Advance() {
    if (buffer_[pos_] == '\n') ++line_;
    ++pos_;
  }

 private:
  bool Refill() {
    size_t carried = length_ - end_;
    std::memmove(buffer_, buffer_ + end_, carried);
    length_ = carried;
    pos_ = 0;
    while (length_ < kWindowBytes && !sourceEnded_) {
      size_t n = source_.Read(buffer_ + length_, kWindowBytes - length_);
      if (n == 0) sourceEnded_ = true;
      length_ += n;
    }
    end_ = length_;
    if (length_ == kWindowBytes) {
      const void* lastLf = memrchr(buffer_, '\n', length_);
      if (!lastLf) throw Error("Line too long on line " + std::to_string(line_), "EParserError");
      end_ = static_cast<size_t>(static_cast<const char*>(lastLf) - buffer_) + 1;
    }
    return end_ > 0;
  }

  Source& source_;
  char buffer_[kWindowBytes];
  size_t length_ = 0;  // bytes in the buffer
  size_t end_ = 0;     // end of the window (after its last line feed)
  size_t pos_ = 0;
  bool sourceEnded_ = false;
  int line_ = 1;  // the line being read
};

bool IsBlank(int c) {
  return c >= 1 && c <= 32;
}
bool IsNameStart(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(int c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}
bool IsEnd(int c) {
  return c <= 0;
}  // a 0 byte ends the template like its real end

void SkipBlanks(Window& w) {
  while (IsBlank(w.Peek())) w.Advance();
}

// Appends the next token (a run of blanks, a name, or one other byte) to `out`; nothing at the
// end.
void ReadToken(Window& w, std::string& out) {
  int c = w.Peek();
  if (IsEnd(c)) return;
  if (IsBlank(c) || IsNameStart(c)) {
    auto inToken = IsBlank(c) ? IsBlank : IsNameChar;
    do {
      out.push_back(static_cast<char>(c));
      w.Advance();
      c = w.Peek();
    } while (inToken(c));
    return;
  }
  out.push_back(static_cast<char>(c));
  w.Advance();
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// One tag, the "<#" already read: name, parameter text, handler, replacement.
void RenderTag(TPageProducer& producer, Window& w, std::string& out) {
  SkipBlanks(w);
  std::string name;
  ReadToken(w, name);
  std::string paramText;
  char quote = 0;
  for (int c = w.Peek(); !IsEnd(c); c = w.Peek()) {
    w.Advance();
    if (c == '>' && quote == 0) break;
    if (c == '"' || c == '\'') {
      if (quote == 0)
        quote = static_cast<char>(c);
      else if (quote == c)
        quote = 0;
    }
    paramText.push_back(static_cast<char>(c));
  }
  std::vector<std::string> params;
  cgi::SplitFields(TrimBlanks(paramText), " \r\n", " \r\n", params);
  if (producer.StripParamQuotes)
    for (auto& p : params) p = StripQuotePairs(p);
  std::string replaceText;
  if (producer.OnHTMLTag) producer.OnHTMLTag(producer, name, params, replaceText);
  out += replaceText;
}

std::string Render(TPageProducer& producer, Source& source) {
  Window w(source);
  std::string out;
  for (int c = w.Peek(); !IsEnd(c); c = w.Peek()) {
    w.Advance();
    // "<" is a token of its own, so copying byte by byte copies token by token.
    if (c != '<') {
      out.push_back(static_cast<char>(c));
      continue;
    }
    SkipBlanks(w);  // dropped, whether a tag follows or not
    if (w.Peek() == '#') {
      w.Advance();
      RenderTag(producer, w, out);
    } else {
      out.push_back('<');
      ReadToken(w, out);
    }
  }
  return out;
}

}  // namespace

void TPageProducer::SetHTMLFile(std::string windowsPath) {
  if (!platform::EqualNoCase1252(windowsPath, htmlFile_)) HTMLDoc.clear();
  htmlFile_ = std::move(windowsPath);
}

std::string StripQuotePairs(std::string_view field) {
  std::string kept;
  kept.reserve(field.size());
  char open = 0;
  for (size_t i = field.size(); i-- > 0;) {
    char c = field[i];
    if (c == '"' || c == '\'') {
      if (open == 0) {
        open = c;
        continue;
      }
      if (open == c) {
        open = 0;
        continue;
      }
    }
    kept.push_back(c);
  }
  return std::string(kept.rbegin(), kept.rend());
}

std::string ProduceContent(TPageProducer& producer) {
  if (!producer.HTMLFile().empty()) {
    FileSource file(producer.HTMLFile());
    return Render(producer, file);
  }
  LinesSource lines(producer.HTMLDoc);
  return Render(producer, lines);
}

std::string ProduceContentFromText(TPageProducer& producer, std::string_view templateText) {
  TextSource text(templateText);
  return Render(producer, text);
}

}  // namespace kvo::pages
