// TPageProducer: a template (held in memory or read from a file) turned into text by replacing
// each tag "<#name params>" with what the tag handler supplies.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kvo::pages {

class TPageProducer;

// Tag handler: (sender, tag name, tag parameters as name=value texts, replacement in-out).
using THTMLTagEvent = std::function<void(TPageProducer& sender, const std::string& tagString,
                                         const std::vector<std::string>& tagParams,
                                         std::string& replaceText)>;

class TPageProducer {
 public:
  std::vector<std::string> HTMLDoc;  // template lines
  THTMLTagEvent OnHTMLTag;
  bool StripParamQuotes = true;

  const std::string& HTMLFile() const { return htmlFile_; }
  // Setting a name that differs (without regard to case) from the current one empties HTMLDoc.
  void SetHTMLFile(std::string windowsPath);

 private:
  std::string htmlFile_;
};

// Renders the producer's template. Throws kvo::Error ("Cannot open file ...",
// "Line too long on line N", a decoding message of a tag parameter).
std::string ProduceContent(TPageProducer& producer);

}  // namespace kvo::pages
