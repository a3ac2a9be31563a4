// A fresh directory that is the current directory for the fixture's lifetime,
// for code that looks files up by bare name.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace lorvant::testing {

class ScopedCurrentDir {
 public:
  ScopedCurrentDir()
      : previous_(std::filesystem::current_path()),
        path_(std::filesystem::temp_directory_path() /
              ("lorvant-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))) {
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScopedCurrentDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir(ScopedCurrentDir&&) = delete;
  ScopedCurrentDir& operator=(ScopedCurrentDir&&) = delete;

  // Writes a file of exactly these bytes.
  static void Write(const std::string& name, std::string_view bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

}  // namespace lorvant::testing
