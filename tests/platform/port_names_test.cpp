// Port names: which device a Win32 name opens, and which names are refused.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "platform/linux/port_names.h"
#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

struct NameCase {
  const char* name;
  const char* path;  // null: refused
};

void PrintTo(const NameCase& value, std::ostream* out) {
  *out << '"' << value.name << '"';
}

class PortNames : public ::testing::TestWithParam<NameCase> {
 protected:
  // No alias of the numbers the table uses may come from the environment.
  void SetUp() override {
    for (const char* variable :
         {"LORVANT_COM1", "LORVANT_COM3", "LORVANT_COM12", "LORVANT_COM255"}) {
      unsetenv(variable);
    }
  }
};

TEST_P(PortNames, MapToTheirDevice) {
  std::array<char, 16> buffer{};
  const char* path = internal::ResolvePortName(GetParam().name, buffer);
  if (GetParam().path == nullptr) {
    EXPECT_EQ(path, nullptr) << path;
  } else {
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, GetParam().path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, PortNames,
    ::testing::Values(NameCase{"NUL", "/dev/null"}, NameCase{"nul", "/dev/null"},
                      NameCase{"nUl", "/dev/null"}, NameCase{R"(\\.\NUL)", "/dev/null"},
                      NameCase{R"(\\.\nul)", "/dev/null"}, NameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                      NameCase{"/tmp/a b", "/tmp/a b"}, NameCase{R"(\\.\/dev/x)", "/dev/x"},
                      NameCase{"COM1", "/dev/ttyS0"}, NameCase{"com12", "/dev/ttyS11"},
                      NameCase{"CoM255", "/dev/ttyS254"}, NameCase{R"(\\.\COM3)", "/dev/ttyS2"}));

INSTANTIATE_TEST_SUITE_P(
    Refused, PortNames,
    ::testing::Values(NameCase{"", nullptr}, NameCase{"COM", nullptr}, NameCase{"COM0", nullptr},
                      NameCase{"COM01", nullptr}, NameCase{"COM256", nullptr},
                      NameCase{"COM99999999999", nullptr}, NameCase{"COM1x", nullptr},
                      NameCase{"COM1:", nullptr}, NameCase{"COM-1", nullptr},
                      NameCase{"COM 1", nullptr}, NameCase{" COM1", nullptr},
                      NameCase{"LPT1", nullptr}, NameCase{"ttyS0", nullptr},
                      NameCase{"dev/ttyS0", nullptr}, NameCase{"NULL", nullptr},
                      NameCase{"NU", nullptr}, NameCase{R"(\\.\)", nullptr},
                      NameCase{R"(\\?\COM1)", nullptr}, NameCase{R"(\\.\\\.\COM1)", nullptr}));

// An alias variable, set for one test.
class ScopedAlias {
 public:
  ScopedAlias(const char* variable, const char* value) : variable_(variable) {
    setenv(variable, value, 1);
  }
  ~ScopedAlias() { unsetenv(variable_); }
  ScopedAlias(const ScopedAlias&) = delete;
  ScopedAlias& operator=(const ScopedAlias&) = delete;

 private:
  const char* variable_;
};

TEST(PortAliases, EnvironmentNamesTheDeviceOfItsNumberOnly) {
  const ScopedAlias alias("LORVANT_COM7", "/dev/pts/77");
  std::array<char, 16> buffer{};
  EXPECT_STREQ(internal::ResolvePortName("COM7", buffer), "/dev/pts/77");
  EXPECT_STREQ(internal::ResolvePortName("com7", buffer), "/dev/pts/77");
  EXPECT_STREQ(internal::ResolvePortName(R"(\\.\COM7)", buffer), "/dev/pts/77");
  EXPECT_STREQ(internal::ResolvePortName("COM8", buffer), "/dev/ttyS7");
  EXPECT_STREQ(internal::ResolvePortName("COM77", buffer), "/dev/ttyS76");
}

TEST(PortAliases, EmptyAliasMeansNone) {
  const ScopedAlias alias("LORVANT_COM7", "");
  std::array<char, 16> buffer{};
  EXPECT_STREQ(internal::ResolvePortName("COM7", buffer), "/dev/ttyS6");
}

// Through CreateFileA: what opens, and what each refusal reports.
using OpenByName = PtyTest;

TEST_F(OpenByName, AliasOpensThePseudoTerminal) {
  const ScopedAlias alias("LORVANT_COM9", slavePath_.c_str());
  for (const char* name : {"COM9", R"(\\.\com9)"}) {
    HANDLE port = OpenPort(name);
    ASSERT_NE(port, kInvalidHandle) << name << ": " << GetLastError();
    ASSERT_EQ(SetReadTimeouts(port, 0, 0, 2000), TRUE);
    MasterWrite(BytesOf("ok"));
    EXPECT_EQ(Read(port, 2).bytes, BytesOf("ok")) << name;
    EXPECT_EQ(CloseHandle(port), TRUE);
  }
}

TEST_F(OpenByName, NulOpensTheNullDevice) {
  HANDLE port = OpenPort(R"(\\.\Nul)");
  ASSERT_NE(port, kInvalidHandle);
  const ReadResult read = Read(port, 4);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_TRUE(read.bytes.empty());
  DWORD written = 0;
  EXPECT_EQ(WriteFile(port, "abc", 3, &written, nullptr), TRUE);
  EXPECT_EQ(written, 3U);
  EXPECT_EQ(CloseHandle(port), TRUE);
}

TEST(OpenRefusals, NamesAndPathsThatAreNotThere) {
  unsetenv("LORVANT_COM255");
  for (const char* name : {"LPT1", "COM0", "", "/nonexistent/port", "/dev/ttyS254", "COM255"}) {
    EXPECT_EQ(OpenPort(name), kInvalidHandle) << name;
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
  }
}

struct ArgumentCase {
  const char* label;
  const char* name;
  DWORD access;
  DWORD disposition;
  DWORD flags;
};

TEST(OpenRefusals, ArgumentsTheLayerDoesNotServe) {
  constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
  constexpr DWORD kCreateAlways = 2;
  const std::array cases = {
      ArgumentCase{"null name", nullptr, kReadWrite, OPEN_EXISTING, 0},
      ArgumentCase{"no access", "NUL", 0, OPEN_EXISTING, 0},
      ArgumentCase{"other access bits", "NUL", kReadWrite | 0x10000000u, OPEN_EXISTING, 0},
      ArgumentCase{"creating", "NUL", kReadWrite, kCreateAlways, 0},
      ArgumentCase{"overlapped", "NUL", kReadWrite, OPEN_EXISTING, FILE_FLAG_OVERLAPPED},
  };
  for (const ArgumentCase& c : cases) {
    EXPECT_EQ(CreateFileA(c.name, c.access, 0, nullptr, c.disposition, c.flags, nullptr),
              kInvalidHandle)
        << c.label;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.label;
  }
}

}  // namespace
}  // namespace lorvant::win32::testing
