// Text-file lines: splitting bytes into lines, and joining them back must give lines that split
// into the same list again.
#include <cstdlib>

#include "configfiles/text_lines.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvo::config::TextLines lines = kvo::config::SplitLines(kvo::fuzz::AsText(data, size));
  std::string joined = kvo::config::JoinLines(lines);
  if (kvo::config::SplitLines(joined) != lines) std::abort();
  return 0;
}
