#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kvo::fuzz {

namespace {

struct DriveFolder {
  std::string path;
  DriveFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvo-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the drive folder");
    path = pattern;
    setenv("KVO_DRIVES", path.c_str(), 1);
  }
  ~DriveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::string& PrivateDrives() {
  static DriveFolder folder;
  return folder.path;
}

}  // namespace kvo::fuzz
