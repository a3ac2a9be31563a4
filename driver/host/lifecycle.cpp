// Driver information and channel lifecycle.
//
// All state lives in the channel's context; the port is reached only through
// the serial functions, and only their success or failure counts here.

#include "host/lifecycle.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string_view>

#include "host/dispatch.h"
#include "host/initfile.h"
#include "host/open_ports.h"
#include "host/runtime.h"
#include "serial/serial.h"

namespace lorvant {
namespace {

constexpr uint16_t kDefaultIfg = 12;

// The banner, in code page 437: a frame of double lines around one line of
// text, 65 characters wide inside.
constexpr std::size_t kBannerWidth = 65;
constexpr std::array<char, kBannerLength + 1> MakeBanner() {
  constexpr std::string_view kText = "  MOKTA :  Eurotherme BYSINC (32 bit)";
  constexpr auto kDoubleHorizontal = static_cast<char>(0xCD);
  std::array<char, kBannerLength + 1> banner{};
  std::size_t n = 0;
  auto put = [&banner, &n](char c) { banner[n++] = c; };
  put('\b');
  put('\n');
  put(static_cast<char>(0xC9));
  for (std::size_t i = 0; i < kBannerWidth; ++i) {
    put(kDoubleHorizontal);
  }
  put(static_cast<char>(0xBB));
  put('\n');
  put(static_cast<char>(0xBA));
  for (std::size_t i = 0; i < kBannerWidth; ++i) {
    put(i < kText.size() ? kText[i] : ' ');
  }
  put(static_cast<char>(0xBA));
  put('\n');
  put(static_cast<char>(0xC8));
  for (std::size_t i = 0; i < kBannerWidth; ++i) {
    put(kDoubleHorizontal);
  }
  put(static_cast<char>(0xBC));
  put('\0');
  return banner;
}
constexpr std::array<char, kBannerLength + 1> kBanner = MakeBanner();
static_assert(kBanner[kBannerLength] == '\0' && kBanner[kBannerLength - 1] != '\0');

// A handle as the log shows it: its low 32 bits.
unsigned HandleValue(void* handle) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle) & 0xFFFFFFFFu);
}

// The host's port name, at most 11 characters, always terminated, even when
// the host's 12 bytes hold no terminator.
constexpr std::size_t kPortNameSize = LORVANT_PORT_NAME_MAX + 1;
void CopyPortName(std::span<char, kPortNameSize> to, std::span<const char, kPortNameSize> from) {
  std::size_t n = 0;
  for (; n < LORVANT_PORT_NAME_MAX && from[n] != '\0'; ++n) {
    to[n] = from[n];
  }
  std::fill(to.begin() + static_cast<std::ptrdiff_t>(n), to.end(), '\0');
}

void ApplyReplyTimeout(void* handle, int32_t replyTimeout) {
  serial::ComSetReadTimeout(handle, replyTimeout > 0 ? replyTimeout : kFallbackReplyTimeout);
}

// Takes a newly opened port into the channel.
void HoldPort(ChannelContext* channel, void* handle) {
  channel->portHandle = handle;
  RememberPort(channel, handle);
  ApplyReplyTimeout(handle, channel->replyTimeout);
}

// CloseCom's steps, shared by EndVpi, ChangeVpiParams and a repeated ColdStart.
int32_t ClosePort(ChannelContext* channel) {
  if (channel == nullptr || channel->portHandle == nullptr) {
    return kResultOk;
  }
  if (serial::ComClose(channel->portHandle) != serial::kComOk) {
    err(kLogDetail, "MOKTA> CloseCom() exited 2");
    return kResultNoOperation;
  }
  channel->portHandle = nullptr;
  ForgetPort(channel);
  return kResultOk;
}

}  // namespace

const char* Banner() {
  return kBanner.data();
}

void* OpenChannelPort(const PortSettings& portSettings) {
  void* handle = nullptr;
  // A name without a terminator is no name.
  if (std::memchr(portSettings.portName, '\0', sizeof(portSettings.portName)) == nullptr) {
    return nullptr;
  }
  if (serial::ComOpen(portSettings.portName, portSettings.lineSettings,
                      portSettings.lineControlFlags, &handle) != serial::kComOk) {
    return nullptr;
  }
  return handle;
}

int32_t GetVpiInfo(VpiRequest* request) {
  auto* info = static_cast<VpiInfo*>(request->params);
  if (info == nullptr) {
    return kResultNoOperation;
  }
  info->leadingValue = 70;
  info->driverName = kDriverName;
  info->banner = Banner();
  info->contextSize = static_cast<int32_t>(sizeof(ChannelContext));
  info->valueAfterContextSize = 4;
  info->defaultLineSettings = kDefaultLineSettings;
  info->trailingValue = 1;
  err(kLogInfo, "MOKTA> GetVpiInfo() exited");
  return kResultOk;
}

int32_t ColdStart(VpiRequest* request) {
  ChannelContext* channel = request->context;
  const auto* record = static_cast<const ColdStartRecord*>(request->params);
  if (channel == nullptr || record == nullptr) {
    return kResultNoOperation;
  }
  SetShutdownFlag(0);
  err(kLogDetail, "MOKTA> release version compiled on %s at time %s", __DATE__, __TIME__);

  // A channel started again without its port closed closes that port first,
  // so that it is not held by a forgotten handle.
  if (HoldsPort(channel, channel->portHandle)) {
    ClosePort(channel);
    ForgetPort(channel);  // also when the close failed: the handle is dropped below
  }

  channel->replyTimeout = record->replyTimeout;
  channel->portHandle = nullptr;
  channel->ifg = kDefaultIfg;
  ReadInitFile(request);

  PortSettings& port = channel->portSettings;
  if (record->portInUse == 0) {
    // No port: no name, and the settings a later ChangeVpiParams builds on.
    port = PortSettings{};
    port.lineSettings = kDefaultLineSettings;
    port.lineControlFlags = serial::kDefaultLineControlFlags;
  } else {
    CopyPortName(port.portName, record->portName);
    port.lineSettings = record->lineSettings;
    port.lineControlFlags = serial::kDefaultLineControlFlags;
    if (void* handle = OpenChannelPort(port)) {
      err(kLogDetail, "MOKTA> ColdStart() File handle %u", HandleValue(handle));
      HoldPort(channel, handle);
    } else {
      err(kLogOperator, "MOKTA> ColdStart() error opening COM port");
    }
  }
  err(kLogDetail, "MOKTA> ColdStart() installation OK!");
  return kResultOk;
}

int32_t WarmStart(VpiRequest* request) {
  ChannelContext* channel = request->context;
  if (channel == nullptr) {
    return kResultNoOperation;
  }
  if (channel->portHandle != nullptr) {
    serial::ComPurgeInput(channel->portHandle);
  }
  err(kLogDetail, "MOKTA> WarmStart()");
  return kResultOk;
}

int32_t CloseCom(VpiRequest* request) {
  return ClosePort(request->context);
}

int32_t EndVpi(VpiRequest* request) {
  SetShutdownFlag(1);
  const int32_t result = ClosePort(request->context);
  err(kLogDetail, "MOKTA> EndVpi() exited, %d", static_cast<int>(result));
  return result;
}

int32_t ReOpenCom(VpiRequest* request) {
  ChannelContext* channel = request->context;
  if (channel == nullptr) {
    return kResultNoOperation;
  }
  void* handle = OpenChannelPort(channel->portSettings);
  if (handle == nullptr) {
    err(kLogOperator, "MOKTA> ReOpenCom() open COM port failed, exited 2");
    return kResultNoOperation;
  }
  err(kLogDetail, "MOKTA> ReOpenCom() File handle %u", HandleValue(handle));
  HoldPort(channel, handle);
  err(kLogDetail, "MOKTA> ReOpenCom() exited 0");
  return kResultOk;
}

int32_t ChangeVpiParams(VpiRequest* request) {
  ChannelContext* channel = request->context;
  const auto* record = static_cast<const VpiParamsRecord*>(request->params);
  if (channel == nullptr || record == nullptr) {
    return kResultNoOperation;
  }
  if (record->replyTimeout != 0 && record->replyTimeout != -1) {
    channel->replyTimeout = record->replyTimeout;
  }

  PortSettings& port = channel->portSettings;
  std::array<char, kPortNameSize> name{};
  CopyPortName(name, record->portName);
  if (std::strncmp(name.data(), port.portName, sizeof(port.portName)) != 0 &&
      channel->portHandle != nullptr) {
    ClosePort(channel);  // a failed close is logged and leaves the old handle
  }
  std::memcpy(port.portName, name.data(), sizeof(port.portName));
  if (record->lineSettings.baudRate != 0) {
    port.lineSettings = record->lineSettings;
  }

  void* handle = OpenChannelPort(port);
  if (handle == nullptr) {
    err(kLogDetail, "MOKTA> ChangeVpiParams() open new COM port failed");
    return kResultNoOperation;
  }
  err(kLogDetail, "MOKTA> ChangeVpiParams() File handle %u", HandleValue(handle));
  HoldPort(channel, handle);
  return kResultOk;
}

}  // namespace lorvant
