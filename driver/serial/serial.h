// Serial port access: the driver's only contact with the serial device.
//
// Eight plain functions over the Win32 communications calls (through the seam
// of syscalls.h). They keep no state: the port handle is the caller's, kept
// in the channel's context. They log nothing; each reports a result code of
// its own, listed below, and its callers decide what to log.
#pragma once

#include <cstdint>
#include <span>

#include "lorvant/records.h"
#include "platform/win32_api.h"

namespace lorvant::serial {

// Result codes of this module (not the codes the driver returns to the host).
inline constexpr int kComOk = 0;
inline constexpr int kComOpenFailed = 1;       // open or time-out setting failed; purge failed
inline constexpr int kComShortWrite = 2;       // fewer bytes written than asked
inline constexpr int kComNotSerial = 4;        // GetCommState failed: not a serial port
inline constexpr int kComSettingsRefused = 5;  // SetCommState failed
inline constexpr int kComIoFailed = 7;         // close, write or read failed; read timed out

// Line-control flag bits (PortSettings::lineControlFlags).
inline constexpr uint16_t kFlagsDtrEnable = 0x0101;
inline constexpr uint16_t kFlagDtrHandshake = 0x8000;
inline constexpr uint16_t kFlagsRtsEnable = 0x0202;
inline constexpr uint16_t kFlagRtsHandshake = 0x1000;
inline constexpr uint16_t kFlagRtsToggle = 0x2000;
inline constexpr uint16_t kFlagCtsFlow = 0x0010;
inline constexpr uint16_t kFlagDsrFlow = 0x0020;
inline constexpr uint16_t kFlagDsrSensitivity = 0x4000;
// DTR and RTS on, handshaking as the device has it: what ColdStart asks for.
inline constexpr uint16_t kDefaultLineControlFlags = 0x0303;

// What ComOpen sets up on a configured port.
inline constexpr DWORD kOpenReadTimeoutMs = 1000;
inline constexpr DWORD kQueueSize = 1200;
inline constexpr char kErrorChar = static_cast<char>(0xFC);
// ComPurgeInput reads pending input in chunks of this size, waiting at most
// kPurgeTimeout (units of 10 ms) for each.
inline constexpr DWORD kPurgeChunk = 512;
inline constexpr int32_t kPurgeTimeout = 5;

// Opens portName exclusively and, unless lineControlFlags is 0, applies the
// line settings, the flags and a read time-out of one second. "NUL" is taken
// as it is, without any configuration. handle receives what CreateFileA gave.
// 0; 1 the device did not open or its time-outs were refused; 4 not a serial
// port; 5 line settings refused. On failure no device stays open.
int ComOpen(const char* portName, const LineSettings& lineSettings, uint16_t lineControlFlags,
            HANDLE* handle);

// Closes the port. 0; 7 the close failed (the handle is still open).
int ComClose(HANDLE handle);

// Sets the read time-out to timeout units of 10 ms and returns the previous
// one in the same units (truncated), or 0 when the time-outs could not be
// read or set.
int32_t ComSetReadTimeout(HANDLE handle, int32_t timeout);

// Discards input that has arrived and not been read. 0; 1 the status call
// failed (with nothing read) or the last read failed.
int ComPurgeInput(HANDLE handle);

// Holds a break condition on the line for the given time. Always 0.
int ComBreak(DWORD milliseconds, HANDLE handle);

// Writes the whole buffer in one call. 0; 2 fewer bytes written (stored in
// written); 7 the write failed. written may be null.
int ComWrite(HANDLE handle, std::span<const uint8_t> buffer, DWORD* written);

// Reads until the buffer (at most 65535 bytes) is full. 0; 7 a read failed,
// or returned no byte within the read time-out. got, which may be null,
// holds the bytes read so far.
int ComRead(HANDLE handle, std::span<uint8_t> buffer, DWORD* got);

// Sleeps for the given time. Always 0.
int ComSleep(DWORD milliseconds);

}  // namespace lorvant::serial
