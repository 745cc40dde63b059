#include "platform/module_library.h"

#include <dlfcn.h>

#include <utility>

namespace kvo::platform {

ModuleLibrary::ModuleLibrary(const std::string& hostPath) {
  // A path without "/" would be searched for in the system's library folders instead.
  Load(hostPath.find('/') == std::string::npos ? "./" + hostPath : hostPath);
}

ModuleLibrary ModuleLibrary::System(const std::string& sharedObjectName) {
  ModuleLibrary library;
  library.Load(sharedObjectName);
  return library;
}

void ModuleLibrary::Load(const std::string& name) {
  handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    error_ = why ? why : "cannot load";
  }
}

ModuleLibrary::~ModuleLibrary() {
  if (handle_) ::dlclose(handle_);
}

ModuleLibrary::ModuleLibrary(ModuleLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

ModuleLibrary& ModuleLibrary::operator=(ModuleLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

void* ModuleLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  ::dlerror();
  return ::dlsym(handle_, name);
}

}  // namespace kvo::platform
