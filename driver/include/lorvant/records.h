/*
** The records that cross the boundary between the host and the driver.
**
** The host allocates every one of them and the driver reads and writes them in
** place, so their layout is the host's: plain C structs, fields in the host's
** order and widths, natural alignment, no packing. Pointer fields and the port
** handle have the native pointer width; every other field keeps its stated
** width. On a 32-bit target this is exactly the host's layout, which the
** compile-time checks at the end of this file hold the build to.
**
** The file is valid C and C++, so a host written in either can include it.
*/
#ifndef LORVANT_RECORDS_H
#define LORVANT_RECORDS_H

/* C as well as C++: C headers and typedefs on purpose. */
/* NOLINTBEGIN(modernize-deprecated-headers,modernize-use-using) */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Line settings of a serial port. Of dataBits, stopBits and parity only the
** low byte is used. stopBits: 0 one, 1 one and a half, 2 two. parity: 0 none,
** 1 odd, 2 even, 3 mark, 4 space. */
typedef struct LineSettings {
  uint16_t baudRate;
  uint16_t dataBits;
  uint16_t stopBits;
  uint16_t parity;
} LineSettings;

/* The longest port name, without its terminating NUL. */
#define LORVANT_PORT_NAME_MAX 11

typedef struct PortSettings {
  char portName[LORVANT_PORT_NAME_MAX + 1]; /* NUL-terminated device name */
  LineSettings lineSettings;
  uint16_t lineControlFlags; /* DTR, RTS and handshake options of the port */
} PortSettings;

#define LORVANT_SEND_BUFFER_SIZE 32
#define LORVANT_REPLY_BUFFER_SIZE 129

/* All state of one serial channel. Allocated by the host with the size that
** GetVpiInfo announces, initialised by ColdStart, owned by the driver. */
typedef struct ChannelContext {
  int32_t replyTimeout; /* in units of 10 ms */
  void* portHandle;     /* the open port; null when no port is open */
  PortSettings portSettings;
  uint8_t sendBuffer[LORVANT_SEND_BUFFER_SIZE];
  uint8_t replyBuffer[LORVANT_REPLY_BUFFER_SIZE];
  uint16_t ifg; /* inter-frame gap in milliseconds; 0: no gap */
} ChannelContext;

/* One request of the host, valid for the duration of one VpiMain call. */
typedef struct VpiRequest {
  ChannelContext* context;
  uint32_t functionCode;
  uint32_t channelNumber; /* names the initialisation file */
  int32_t hostField;      /* the host's; never read or written by the driver */
  void* params;           /* the operation's record, chosen by functionCode */
} VpiRequest;

/* Where a gate's value lives in an instrument, as the address parsers make it. */
typedef struct GateAddress {
  int32_t instrumentId; /* 0x00..0x8F */
  int32_t format;       /* 0 plain, 1 marked, 2 format code, 3 format code marked, 4 IFG */
  int32_t pno;          /* parameter number 0..127 */
  int32_t bitNumber;    /* -1: whole value; 0..15: a bit gate */
  int32_t width;        /* significant bits of the gate's value: 16 or 1 */
} GateAddress;

/* Input and output of the address parsers (function codes 3 and 4). */
typedef struct GateParseRecord {
  const char* addressString; /* never changed by the driver */
  int32_t hostField;
  int32_t gateKind;  /* 0, 1, 2 analog; 6 digital; 7 string */
  int32_t blockSize; /* block gates only */
  GateAddress address;
} GateParseRecord;

/* One gate at read and write time (function codes 5, 6 and 7). */
typedef struct GateRecord {
  const char* gateName; /* used in log messages only */
  int32_t hostField1;
  GateAddress address;
  int32_t hostField2;
  int32_t valueCount;    /* 1 for a single gate, the block size for a block gate */
  int32_t conversion;    /* handed unchanged to the host's conversion function */
  uint16_t* valueBuffer; /* a single gate's value is in the second word */
} GateRecord;

/* The driver's announcement (function code 14). */
typedef struct VpiInfo {
  int32_t leadingValue;
  const char* driverName;
  const char* banner;
  int32_t contextSize; /* sizeof(ChannelContext) */
  int32_t valueAfterContextSize;
  LineSettings defaultLineSettings;
  int32_t trailingValue;
} VpiInfo;

/* Parameters of ColdStart (function code 1). */
typedef struct ColdStartRecord {
  char portName[LORVANT_PORT_NAME_MAX + 1];
  int32_t portInUse;    /* 0: the channel has no port */
  int32_t replyTimeout; /* in units of 10 ms */
  LineSettings lineSettings;
} ColdStartRecord;

/* Parameters of ChangeVpiParams (function code 15). */
typedef struct VpiParamsRecord {
  char portName[LORVANT_PORT_NAME_MAX + 1];
  int32_t replyTimeout;      /* 0 and -1 keep the current one */
  LineSettings lineSettings; /* a baudRate of 0 keeps all four */
} VpiParamsRecord;

/* The one function the driver exports. C calling convention. */
#if defined(_WIN32)
#define LORVANT_CALL __cdecl
#else
#define LORVANT_CALL
#endif

int32_t LORVANT_CALL VpiMain(VpiRequest* request);

#ifdef __cplusplus
} /* extern "C" */

/* The host's 32-bit layouts, byte for byte. */
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(LineSettings) == 8);
static_assert(sizeof(PortSettings) == 22);
static_assert(offsetof(PortSettings, lineSettings) == 12);
static_assert(offsetof(PortSettings, lineControlFlags) == 20);
static_assert(sizeof(VpiRequest) == 20);
static_assert(offsetof(VpiRequest, functionCode) == 4);
static_assert(offsetof(VpiRequest, channelNumber) == 8);
static_assert(offsetof(VpiRequest, params) == 16);
static_assert(sizeof(ChannelContext) == 196);
static_assert(offsetof(ChannelContext, replyTimeout) == 0);
static_assert(offsetof(ChannelContext, portHandle) == 4);
static_assert(offsetof(ChannelContext, portSettings) == 8);
static_assert(offsetof(ChannelContext, sendBuffer) == 30);
static_assert(offsetof(ChannelContext, replyBuffer) == 62);
static_assert(offsetof(ChannelContext, ifg) == 192);
static_assert(sizeof(GateAddress) == 20);
static_assert(sizeof(GateParseRecord) == 36);
static_assert(offsetof(GateParseRecord, gateKind) == 8);
static_assert(offsetof(GateParseRecord, blockSize) == 12);
static_assert(offsetof(GateParseRecord, address) == 16);
static_assert(sizeof(GateRecord) == 44);
static_assert(offsetof(GateRecord, address) == 8);
static_assert(offsetof(GateRecord, valueCount) == 32);
static_assert(offsetof(GateRecord, conversion) == 36);
static_assert(offsetof(GateRecord, valueBuffer) == 40);
static_assert(sizeof(VpiInfo) == 32);
static_assert(offsetof(VpiInfo, contextSize) == 12);
static_assert(offsetof(VpiInfo, defaultLineSettings) == 20);
static_assert(offsetof(VpiInfo, trailingValue) == 28);
static_assert(sizeof(ColdStartRecord) == 28);
static_assert(offsetof(ColdStartRecord, portInUse) == 12);
static_assert(offsetof(ColdStartRecord, replyTimeout) == 16);
static_assert(offsetof(ColdStartRecord, lineSettings) == 20);
static_assert(sizeof(VpiParamsRecord) == 24);
static_assert(offsetof(VpiParamsRecord, replyTimeout) == 12);
static_assert(offsetof(VpiParamsRecord, lineSettings) == 16);
#endif

/* Wider targets keep the field order and widths; only pointers grow. */
static_assert(sizeof(LineSettings) == 8);
static_assert(sizeof(PortSettings) == 22);
static_assert(sizeof(GateAddress) == 20);
static_assert(offsetof(ChannelContext, portSettings) == 2 * sizeof(void*));
static_assert(offsetof(ChannelContext, sendBuffer) == 2 * sizeof(void*) + 22);
static_assert(offsetof(GateParseRecord, address) == sizeof(void*) + 12);
static_assert(sizeof(ColdStartRecord) == 28);
static_assert(sizeof(VpiParamsRecord) == 24);
#endif /* __cplusplus */

/* NOLINTEND(modernize-deprecated-headers,modernize-use-using) */
#endif /* LORVANT_RECORDS_H */
