// Writes to standard output while it is loaded and asked: none of it may reach the answer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {
__attribute__((constructor)) void Hello() {
  std::printf("Status: 302 Found\r\n\r\nnoise from a module\n");
  std::fflush(stdout);
  if (write(1, "raw noise\n", 10) < 0) return;
}
}  // namespace

extern "C" {
const char16_t* Description() {
  std::printf("more noise\n");
  return u"Noisy";
}
int32_t CategoryIcon() {
  return 4;
}
int32_t SelectIcon() {
  return 2;
}
}
