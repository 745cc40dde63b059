#include "kvo/client/classes.h"

#include "platform/ascii.h"

namespace kvo::client {

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) Assign(other);
  return *this;
}

void TStringList::Changed() {
  if (updating_) {
    pendingChange_ = true;
    return;
  }
  if (OnChange) OnChange();
}

void TStringList::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0 && pendingChange_) {
    pendingChange_ = false;
    if (OnChange) OnChange();
  }
}

void TStringList::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TStringList::Clear() {
  lines_.clear();
  Changed();
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  lines_.clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines_.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines_.emplace_back(text.substr(start));
  Changed();
}

void TStringList::Assign(const TStringList& other) {
  lines_ = other.lines_;
  Changed();
}

std::string TStringList::Values(std::string_view name) const {
  for (const std::string& line : lines_) {
    size_t eq = line.find('=');
    if (eq != std::string::npos &&
        platform::SameTextAscii(std::string_view(line).substr(0, eq), name)) {
      return line.substr(eq + 1);
    }
  }
  return {};
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  for (std::string& line : lines_) {
    size_t eq = line.find('=');
    if (eq != std::string::npos &&
        platform::SameTextAscii(std::string_view(line).substr(0, eq), name)) {
      line = std::string(name) + "=" + std::string(value);
      Changed();
      return;
    }
  }
  Add(std::string(name) + "=" + std::string(value));
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

const char* LibraryVersion() {
  return KVO_VERSION;
}

}  // namespace kvo::client
