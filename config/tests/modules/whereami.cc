// Describes itself with the name of the current directory at the time it was loaded: the scan
// makes each module's own directory current while it loads the module.
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {
char16_t description[256];

__attribute__((constructor)) void Remember() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return;
  const char* name = std::strrchr(buffer, '/') + 1;
  for (size_t i = 0; name[i] && i + 1 < sizeof description / sizeof *description; ++i)
    description[i] = static_cast<unsigned char>(name[i]);
}
}  // namespace

extern "C" {
const char16_t* Description() {
  return description;
}
int32_t CategoryIcon() {
  return 0;
}
int32_t SelectIcon() {
  return 0;
}
}
