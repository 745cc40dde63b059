// The template renderer over template bytes, with a tag handler that echoes the tag's name and
// parameters (so that parameter splitting, decoding and quote stripping all run).
#include "fuzz/fuzz_support.h"
#include "pages/page_producer.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = kvo::fuzz::AsText(data, size);
  for (bool strip : {true, false}) {
    kvo::pages::TPageProducer producer;
    producer.StripParamQuotes = strip;
    producer.OnHTMLTag = [](kvo::pages::TPageProducer&, const std::string& tag,
                            const std::vector<std::string>& params, std::string& replace) {
      replace = tag;
      for (const auto& p : params) replace += "|" + p;
    };
    try {
      kvo::pages::ProduceContentFromText(producer, text);
    } catch (const kvo::Error&) {
    }
  }
  kvo::pages::StripQuotePairs(text);
  return 0;
}
