// The PE version reader over arbitrary image bytes.
#include "platform/pe_version.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view image = kvo::fuzz::AsText(data, size);
  try {
    kvo::platform::PeFileVersion(image);
  } catch (const kvo::Error&) {
  }
  try {
    kvo::platform::PeFirstTranslation(image);
  } catch (const kvo::Error&) {
  }
  return 0;
}
