// Loads the driver library the way the real host does, by file name at run
// time, and finds its one exported function.
#pragma once

#include <cstdint>
#include <string>

#include "lorvant/records.h"

namespace mokta {

using VpiMainFunction = int32_t (*)(VpiRequest*);

class DriverLibrary {
 public:
  // Loads the library at path; on failure Loaded() is false and Error() says why.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  [[nodiscard]] bool Loaded() const { return vpiMain_ != nullptr; }
  [[nodiscard]] const std::string& Error() const { return error_; }

  // One request, exactly as the host makes it.
  int32_t Call(VpiRequest& request) const { return vpiMain_(&request); }

 private:
  void* handle_ = nullptr;
  VpiMainFunction vpiMain_ = nullptr;
  std::string error_;
};

// The driver's default place: beside the running executable.
std::string DefaultDriverPath();

}  // namespace mokta
