#include "config/service_text.h"

namespace kvo::config {

std::string TrimControls(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace kvo::config
