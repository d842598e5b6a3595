/*
 * qvAPI: client library of qvServer.
 *
 * Connects to a running qvServer over TCP, lists its node tree, reads and
 * writes node values, subscribes to nodes and takes the values they push as
 * events. Every function returns a QV_STATUS: 0 for success, 0x4000..0x4003
 * for warnings, 0x8000..0x8012 for errors (qvAPIGetError gives the text).
 *
 * A handle is used by one thread at a time; different handles may be used by
 * different threads at once. The caller owns every output buffer it passes
 * in, including the QvEvent record; the library owns the handle.
 */
#ifndef QVAPI_H
#define QVAPI_H

#include <stdint.h>

/* The status codes (QV_NO_ERROR ...), shared with the server. */
#include "QvStatusCodes.h"

#define QVAPI_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t QV_STATUS;

/* Value types of QvEvent.valueType. */
enum {
    QV_VALUE_NONE = 0,
    QV_VALUE_DOUBLE = 1,
    QV_VALUE_INTEGER = 2,
    QV_VALUE_DEMODSAMPLE = 3,
    QV_VALUE_SCOPESAMPLE = 4,
    QV_VALUE_AUXINSAMPLE = 5,
    QV_VALUE_DIOSAMPLE = 6,
    QV_VALUE_BYTEARRAY = 7,
    QV_VALUE_TREECHANGE = 16
};

/* Flags of qvAPIListNodes. */
enum {
    QV_LIST_RECURSIVE = 1,     /* the whole subtree, not only direct children */
    QV_LIST_ABSOLUTE_PATH = 2, /* absolute paths instead of node names */
    QV_LIST_LEAVES_ONLY = 4,   /* only nodes that hold a value */
    QV_LIST_SETTINGS_ONLY = 8  /* only settings */
};

#define QV_DEFAULT_PORT 8005
#define QV_MAX_PATH_LENGTH 256
#define QV_EVENT_PATH_SIZE 256
#define QV_EVENT_DATA_SIZE 0x400000

/* Connection handle; opaque. */
typedef struct QvHandle QvHandle;

/* Demodulator sample. timeStamp counts ticks of the instrument's 210 MHz
 * clock (qvAPISecondsTimeStamp converts it). */
typedef struct DataDemodSample {
    uint64_t timeStamp;
    double x;
    double y;
    double frequency;
    double phase;
    uint32_t dioBits;
    uint32_t reserved;
    double auxIn0;
    double auxIn1;
} DataDemodSample;

/* Auxiliary-input sample. */
typedef struct DataAuxInSample {
    uint64_t timeStamp;
    double ch0;
    double ch1;
} DataAuxInSample;

/* Digital-I/O sample. */
typedef struct DataDIOSample {
    uint64_t timeStamp;
    uint32_t bits;
    uint32_t reserved;
} DataDIOSample;

/* Header of a scope wave; sampleCount signed 16-bit samples follow it. */
typedef struct DataScopeSample {
    double dt; /* seconds per sample */
    uint32_t channel;
    uint32_t triggerChannel;
    uint32_t bandwidthLimit;
    uint32_t sampleCount;
} DataScopeSample;

/* One event as qvAPIPollData hands it out. The data holds the values as the
 * server sent them, little-endian: count doubles or 64-bit integers, count
 * 64-byte demodulator, 24-byte aux-input or 16-byte DIO samples, one scope
 * wave (24-byte header and its samples), or a byte array {u32 n, n bytes}.
 * data always points to dataArea of the same record. */
typedef struct QvEvent {
    uint32_t valueType; /* QV_VALUE_...; QV_VALUE_NONE when nothing was taken */
    uint32_t count;
    char path[QV_EVENT_PATH_SIZE];
    uint8_t* data;
    uint8_t dataArea[QV_EVENT_DATA_SIZE];
} QvEvent;

/* Handles and connections. */
QVAPI_EXPORT QV_STATUS qvAPIInit(QvHandle** handle);
QVAPI_EXPORT QV_STATUS qvAPIDestroy(QvHandle* handle);
/* host NULL: the local host; port 0: QV_DEFAULT_PORT. */
QVAPI_EXPORT QV_STATUS qvAPIConnect(QvHandle* handle, const char* host, uint16_t port);
QVAPI_EXPORT QV_STATUS qvAPIDisconnect(QvHandle* handle);

/* Node tree. text receives the node lines separated by "\n". */
QVAPI_EXPORT QV_STATUS qvAPIListNodes(QvHandle* handle, const char* path, char* text, uint32_t bufferSize,
                                      uint32_t flags);
QVAPI_EXPORT QV_STATUS qvAPIUpdateDevices(QvHandle* handle);

/* Reading values. A path that matches several nodes gives the first value
 * of a fitting type. */
QVAPI_EXPORT QV_STATUS qvAPIGetValueD(QvHandle* handle, const char* path, double* value);
QVAPI_EXPORT QV_STATUS qvAPIGetValueI(QvHandle* handle, const char* path, int64_t* value);
QVAPI_EXPORT QV_STATUS qvAPIGetValueS(QvHandle* handle, const char* path, DataDemodSample* value);
QVAPI_EXPORT QV_STATUS qvAPIGetValueDIO(QvHandle* handle, const char* path, DataDIOSample* value);
QVAPI_EXPORT QV_STATUS qvAPIGetValueAuxIn(QvHandle* handle, const char* path, DataAuxInSample* value);
/* length receives the byte count, or 0 when the value does not fit. */
QVAPI_EXPORT QV_STATUS qvAPIGetValueB(QvHandle* handle, const char* path, uint8_t* buffer, uint32_t* length,
                                      uint32_t bufferSize);
/* The values arrive as events (qvAPIPollData). */
QVAPI_EXPORT QV_STATUS qvAPIGetValueAsPollData(QvHandle* handle, const char* path);

/* Writing values. */
QVAPI_EXPORT QV_STATUS qvAPISetValueD(QvHandle* handle, const char* path, double value);
QVAPI_EXPORT QV_STATUS qvAPISetValueI(QvHandle* handle, const char* path, int64_t value);
QVAPI_EXPORT QV_STATUS qvAPISetValueB(QvHandle* handle, const char* path, const uint8_t* bytes, uint32_t length);

/* Subscriptions and events. timeoutMs: 0 does not wait, negative waits
 * without limit. An event with valueType QV_VALUE_NONE means none was taken.
 * A request always gets its reply; while the event queue is full, events that
 * arrive meanwhile are dropped, and once the events queued before them are
 * taken, qvAPIPollData says so once with the full queue's status
 * (QV_OVERFLOW or QV_BUFFER_TOO_SMALL). A path that names no node gives
 * QV_VALUE_NOT_FOUND. */
QVAPI_EXPORT QV_STATUS qvAPISubscribe(QvHandle* handle, const char* path);
QVAPI_EXPORT QV_STATUS qvAPIUnSubscribe(QvHandle* handle, const char* path);
QVAPI_EXPORT QV_STATUS qvAPIPollData(QvHandle* handle, QvEvent* event, int32_t timeoutMs);

/* Utilities. */
QVAPI_EXPORT QV_STATUS qvAPIGetError(QV_STATUS code, const char** text, int32_t* kind);
QVAPI_EXPORT QV_STATUS qvAPIGetRevision(uint32_t* revision);
QVAPI_EXPORT double qvAPISecondsTimeStamp(uint64_t ticks);
/* Reads a memory-image text file (hex bytes, "@" addresses, comments) into
 * buffer; bytesUsed receives the highest offset written + 1. */
QVAPI_EXPORT QV_STATUS ReadMEMFile(const char* fileName, uint8_t* buffer, int32_t bufferSize, int32_t* bytesUsed);

#ifdef __cplusplus
}
#endif

#endif /* QVAPI_H */
