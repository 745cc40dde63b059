// Never answers "SelectIcon".
#include <unistd.h>

#include <cstdint>

extern "C" {
const char16_t* Description() {
  return u"Hang";
}
int32_t CategoryIcon() {
  return 1;
}
int32_t SelectIcon() {
  for (;;) pause();
}
}
