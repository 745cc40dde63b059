// The INI reader: the input is written to a file under a private drive folder and read back
// through the path layer like any configuration file.
//
// Input: line 1 = section, line 2 = key, rest = the file's bytes.
#include <filesystem>
#include <fstream>

#include "configfiles/profile_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = kvo::fuzz::PrivateDrives() + "/C/fuzz";
  static const bool made = [] {
    std::filesystem::create_directories(folder);
    return true;
  }();
  (void)made;
  std::string_view rest = kvo::fuzz::AsText(data, size);
  std::string_view section = kvo::fuzz::TakeLine(rest);
  std::string_view key = kvo::fuzz::TakeLine(rest);
  {
    std::ofstream out(folder + "/input.ini", std::ios::binary | std::ios::trunc);
    out.write(rest.data(), static_cast<std::streamsize>(rest.size()));
  }
  kvo::config::TProfileFile file("C:\\fuzz\\input.ini");
  try {
    file.ReadText(section, key, "default");
    file.ReadNumber(section, key, 7);
    file.ReadFlag(section, key, true);
    file.ReadText("Geral", "Servidor", "");
  } catch (const kvo::Error&) {
  }
  int32_t value = 0;
  kvo::config::ParseProfileInteger(section, value);
  return 0;
}
