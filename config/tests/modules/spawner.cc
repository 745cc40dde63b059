// Starts a background process when loaded, as a module whose initialisation launches a helper
// would; the helper keeps whatever descriptors it inherited for 15 seconds.
#include <unistd.h>

#include <cstdint>

namespace {
__attribute__((constructor)) void StartHelper() {
  if (fork() == 0) {
    sleep(15);
    _exit(0);
  }
}
}  // namespace

extern "C" {
const char16_t* Description() {
  return u"Spawner";
}
int32_t CategoryIcon() {
  return 5;
}
int32_t SelectIcon() {
  return 6;
}
}
