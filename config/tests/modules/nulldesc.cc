// Every export is there, but "Description" gives no text.
#include <cstdint>

extern "C" {
const char16_t* Description() {
  return nullptr;
}
int32_t CategoryIcon() {
  return 1;
}
int32_t SelectIcon() {
  return 2;
}
}
