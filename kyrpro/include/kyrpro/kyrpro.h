/*
** Stand-in for the host's runtime library KYRPRO.
**
** The driver imports two functions from it: err, the host's logging function,
** and Kyr5UnCook, which converts a value into a gate's value word. The rest of
** this header is the stand-in's own: a host that uses it decides where log
** lines go by installing a sink and choosing the levels that the default sink
** shows.
*/
#ifndef KYRPRO_KYRPRO_H
#define KYRPRO_KYRPRO_H

/* C as well as C++: C headers and typedefs on purpose. */
/* NOLINTBEGIN(modernize-deprecated-headers,modernize-use-using) */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KYRPRO_CALL __cdecl
#if defined(KYRPRO_BUILDING)
#define KYRPRO_API __declspec(dllexport)
#else
#define KYRPRO_API
#endif
#else
#define KYRPRO_CALL
#define KYRPRO_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#define KYRPRO_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KYRPRO_PRINTF(fmt, args)
#endif

/* Log levels. They are distinct bits, so a set of levels is their OR. */
enum {
  KYRPRO_LEVEL_INFO = 8,      /* announcements */
  KYRPRO_LEVEL_OPERATOR = 32, /* faults that need the operator */
  KYRPRO_LEVEL_DETAIL = 64,   /* progress, protocol errors, retries */
  KYRPRO_LEVEL_ALL = KYRPRO_LEVEL_INFO | KYRPRO_LEVEL_OPERATOR | KYRPRO_LEVEL_DETAIL
};

/* Formats one message, printf-style, and hands it to the sink with its level.
** Messages carry no line end. The result is 0 and means nothing.
** The name is the host's. */
/* NOLINTNEXTLINE(readability-identifier-naming) */
KYRPRO_API int KYRPRO_CALL err(int level, const char* format, ...) KYRPRO_PRINTF(2, 3);

/* Results of Kyr5UnCook. */
enum {
  KYRPRO_UNCOOK_OK = 0,
  KYRPRO_UNCOOK_NO_BUFFER = 1,   /* valueBuffer is null */
  KYRPRO_UNCOOK_OUT_OF_RANGE = 2 /* not a number, or outside 0..65535 after rounding */
};

/* Stores value, rounded to the nearest whole number, in the gate's value word:
** the second word of valueBuffer. conversion is not interpreted by the
** stand-in. On a non-zero result the buffer is left as it was. */
KYRPRO_API int KYRPRO_CALL Kyr5UnCook(int32_t zero, int32_t conversion, double value,
                                      uint16_t* valueBuffer);

/* Receives every message that err formats, whatever its level. */
typedef void(KYRPRO_CALL* KyrLogSink)(void* context, int level, const char* message);

/* Installs a sink and the context handed to it; a null sink restores the
** default sink, which writes "[level] message" lines to standard error. */
KYRPRO_API void KYRPRO_CALL KyrSetLogSink(KyrLogSink sink, void* context);

/* Chooses the levels that the default sink shows (an OR of levels); all of
** them at start. Installed sinks see every level. */
KYRPRO_API void KYRPRO_CALL KyrSetLogLevels(int levels);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* NOLINTEND(modernize-deprecated-headers,modernize-use-using) */
#endif /* KYRPRO_KYRPRO_H */
