#include "configfiles/scramble.h"

namespace kvo::config {

std::string ScrambleText(std::string_view text, uint32_t key) {
  const uint8_t k = static_cast<uint8_t>(key & 0xFF);
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i)
    out[i] = static_cast<char>(static_cast<uint8_t>(k - 1 - static_cast<uint8_t>(text[i])));
  return out;
}

}  // namespace kvo::config
