#include "driver_loader.h"

#include <array>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace mokta {

#if defined(_WIN32)

DriverLibrary::DriverLibrary(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  handle_ = module;
  // FARPROC has no arguments; the export is VpiMain(VpiRequest*), cdecl.
  vpiMain_ = reinterpret_cast<VpiMainFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "VpiMain")));  // NOLINT
  if (vpiMain_ == nullptr) {
    error_ = path + " does not export VpiMain";
  }
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) {
    FreeLibrary(static_cast<HMODULE>(handle_));
  }
}

std::string DefaultDriverPath() {
  std::array<char, MAX_PATH> self{};
  const DWORD length = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) {
    return "LORVANT.dll";
  }
  std::string path(self.data(), length);
  const auto slash = path.find_last_of("\\/");
  return path.substr(0, slash + 1) + "LORVANT.dll";
}

#else

DriverLibrary::DriverLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : "cannot load " + path;
    return;
  }
  vpiMain_ = reinterpret_cast<VpiMainFunction>(dlsym(handle_, "VpiMain"));  // NOLINT
  if (vpiMain_ == nullptr) {
    error_ = path + " does not export VpiMain";
  }
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

std::string DefaultDriverPath() {
  std::array<char, 4096> self{};
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) {
    return "./LORVANT.so";
  }
  std::string path(self.data(), static_cast<std::size_t>(length));
  const auto slash = path.rfind('/');
  return path.substr(0, slash + 1) + "LORVANT.so";
}

#endif

}  // namespace mokta
