// The byte scrambler of the settings and module-list answers. The server, the module list file's
// readers and the client library must agree on the key, so it lives here and nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvo::config {

// The one-byte key shared by /config, /listakvomodulos and the clients that read their answers.
inline constexpr uint8_t kScrambleKey = 0x4B;

// Each byte b becomes (k - 1 - b) mod 256 with k the low 8 bits of `key`; same length, every
// byte alike (line ends included). The routine is its own inverse.
std::string ScrambleText(std::string_view text, uint32_t key);

}  // namespace kvo::config
