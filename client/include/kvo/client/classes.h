// The small base classes of the components: a named component, a list of text lines that can
// announce its changes, and the text conventions (separators, formats) that the components use
// where values become text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "kvo/client/error.h"
#include "kvo/client/export.h"

namespace kvo::client {

// A component has a name (used as a prefix of some messages) and an owner. The owner is only
// remembered: components never free each other through it; each object has exactly one C++
// owner (a variable, a member, a smart pointer).
class KVO_CLIENT_API TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string Name;
  TComponent* Owner() const { return owner_; }

 private:
  TComponent* owner_;
};

// A list of text lines (Windows-1252 bytes). Its text is every line followed by CR LF; setting
// the text splits it at CR LF, a lone CR or a lone LF. Every change calls OnChange once; a
// change made between BeginUpdate and EndUpdate calls it once, at EndUpdate.
class KVO_CLIENT_API TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}
  // Copies the lines only; the handler stays with the list it was set on.
  TStringList(const TStringList& other) : lines_(other.lines_) {}
  TStringList& operator=(const TStringList& other);

  std::function<void()> OnChange;

  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Add(std::string line);
  void Clear();
  std::string Text() const;
  void SetText(std::string_view text);
  // Takes the lines of `other` as one change.
  void Assign(const TStringList& other);

  // The value of the first line "name=value" whose name equals `name` without regard to ASCII
  // letter case; the empty text when there is none.
  std::string Values(std::string_view name) const;
  // Replaces the value of that line, or adds "name=value" when there is none.
  void SetValue(std::string_view name, std::string_view value);

  void BeginUpdate() { ++updating_; }
  void EndUpdate();

 private:
  void Changed();

  std::vector<std::string> lines_;
  int updating_ = 0;
  bool pendingChange_ = false;
};

// The conventions by which values become text, as the operating system's regional settings
// would give them elsewhere. One set serves the whole process (FormatSettings()); change it at
// start-up, before components run.
//   DecimalSeparator: numbers as text (float fields, ftBCD/ftFMTBcd parameters); default ".".
//   DateSeparator: the separator of "mm/dd/yyyy" dates written into statements; default "/".
// The long time format is fixed: "hh:nn:ss", 24 hours, two digits each.
struct TFormatSettings {
  char DecimalSeparator = '.';
  char DateSeparator = '/';
};
KVO_CLIENT_API TFormatSettings& FormatSettings();

// The version of the build the library comes from, as its packages and kvoclient --version
// print it: the release, and for a build from a git checkout the time and name of its commit
// ("1.1.0+git20261211.022342.6fed1b9").
KVO_CLIENT_API const char* LibraryVersion();

}  // namespace kvo::client
