// Exports "Description" and "CategoryIcon" but not "SelectIcon".
#include <cstdint>

extern "C" {
const char16_t* Description() {
  return u"Sem \u00EDcone";
}
int32_t CategoryIcon() {
  return 5;
}
}
