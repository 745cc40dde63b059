// The SQL scanner: its tokens, joined, give the input back, and every byte reads as the plain
// reference scanner of the tests reads it (so no marker it reports stands inside a literal, a
// quoted name or a comment). A difference aborts.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "sqltext/tests/reference_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view sql = kvo::fuzz::AsText(data, size);
  std::string why = kvo::sqltext::testing::CheckScanner(sql);
  if (!why.empty()) {
    std::fprintf(stderr, "scanner: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
