// Base64 decoding of the site page's query fields.
#include "pages/base64.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    kvo::pages::DecodeBase64(kvo::fuzz::AsText(data, size));
  } catch (const kvo::Error&) {
  }
  return 0;
}
