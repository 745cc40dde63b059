// A well-behaved module: description "Till", category icon 3, select icon 7.
#include <cstdint>

extern "C" {
const char16_t* Description() {
  return u"Till";
}
int32_t CategoryIcon() {
  return 3;
}
int32_t SelectIcon() {
  return 7;
}
}
