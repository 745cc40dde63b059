// Crashes inside "Description", as a faulty module would.
#include <signal.h>

#include <cstdint>

extern "C" {
const char16_t* Description() {
  raise(SIGSEGV);
  return u"never";
}
int32_t CategoryIcon() {
  return 1;
}
int32_t SelectIcon() {
  return 1;
}
}
