// TPageProducer: a template (held in memory or read from a file) turned into text by replacing
// each tag "<#name params>" with what the tag handler supplies. The template language and the
// reading window are described in docs/templates.md.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::pages {

class TPageProducer;

// Tag handler: (sender, tag name, tag parameters as name=value texts, replacement in-out).
// The replacement is empty on entry; what it holds on return replaces the tag.
using THTMLTagEvent =
    std::function<void(TPageProducer& sender, const std::string& tagString,
                       const std::vector<std::string>& tagParams, std::string& replaceText)>;

class TPageProducer {
 public:
  std::vector<std::string> HTMLDoc;  // template lines, each rendered with CR LF after it
  THTMLTagEvent OnHTMLTag;           // none: every tag becomes the empty text
  bool StripParamQuotes = true;

  // When not empty, the file (a Windows path) takes precedence over HTMLDoc.
  const std::string& HTMLFile() const { return htmlFile_; }
  // Setting a name that differs (without regard to case) from the current one empties HTMLDoc.
  void SetHTMLFile(std::string windowsPath);

 private:
  std::string htmlFile_;
};

// Renders the producer's template: the file named by HTMLFile (opened read-only under a shared
// lock, so that cooperating writers wait) or HTMLDoc. Throws kvo::Error with
// "Cannot open file "<full Windows path>". <reason>", "Line too long on line N", or the
// request decoding message of a malformed "%" in a tag parameter; the handler's failures pass
// through unchanged.
std::string ProduceContent(TPageProducer& producer);

// The same renderer over template bytes given by the caller (HTMLDoc and HTMLFile ignored).
std::string ProduceContentFromText(TPageProducer& producer, std::string_view templateText);

// The quote stripping of tag parameters: scanning from the end, a quote (single or double) is
// removed when none is open (it opens one) or when it closes the open one; others stay.
std::string StripQuotePairs(std::string_view field);

}  // namespace kvo::pages
