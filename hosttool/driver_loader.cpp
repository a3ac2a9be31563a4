#include "driver_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <string>

namespace mokta {

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

}  // namespace mokta
