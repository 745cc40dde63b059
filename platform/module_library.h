// A module library loaded into this process for as long as the object lives (dlopen RAII).
// Loading runs the library's initialisation here, which is what the module list relies on.
#pragma once

#include <string>

namespace kvo::platform {

class ModuleLibrary {
 public:
  // Loads the library file at the host path, resolving all of its symbols now. A file that is
  // not a loadable library leaves the object unloaded; Error() then says why. Never throws.
  explicit ModuleLibrary(const std::string& hostPath);
  // Loads a library of the system by its shared-object name ("libcurl.so.4"), searched for in
  // the system's library folders as the dynamic linker does. Never throws.
  static ModuleLibrary System(const std::string& sharedObjectName);
  // Unloads the library exactly once.
  ~ModuleLibrary();
  ModuleLibrary(ModuleLibrary&& other) noexcept;
  ModuleLibrary& operator=(ModuleLibrary&& other) noexcept;
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Error() const { return error_; }
  // The address of the exported symbol, or nullptr when the library lacks it or is not loaded.
  void* Symbol(const char* name) const;

 private:
  ModuleLibrary() = default;
  void Load(const std::string& name);
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace kvo::platform
