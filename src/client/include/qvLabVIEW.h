/*
 * qvLabVIEW: the LabVIEW functions of panelbridge.
 *
 * panelbridge carries the whole client library (qvAPI.h) plus these
 * functions, which hand its results over in the shapes a LabVIEW call can
 * take: status texts in fixed text buffers, one polled event as separate
 * scalars, and the sample records of an event as LabVIEW numeric arrays.
 * None of them keeps state.
 *
 * LabVIEW numeric arrays are reached through handles: a handle points to a
 * pointer to one block {int32_t element count, then the elements packed
 * without gaps}. The functions take the address of each handle, because
 * resizing (through the LabVIEW run-time's NumericArrayResize) may replace
 * it. An array whose handle is null, or whose element count differs from the
 * event's, is resized and its count written.
 */
#ifndef QVLABVIEW_H
#define QVLABVIEW_H

#include "qvAPI.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Handle of a LabVIEW numeric array (see above). */
typedef uint8_t** QvLvArrayHandle;

/* Size of the text buffers of qvAPILVGetError and qvAPILVPollData. */
#define QV_LV_TEXT_SIZE 256

/* Results of the sample conversions besides 0. An event whose count (or, for
 * a scope wave, whose sample count) claims more records than its data area
 * holds gives QV_BUFFER_TOO_SMALL and no event at all QV_ERR_GENERAL; the
 * arrays are then left as they were. */
enum {
    QV_LV_DIO_NO_OUTPUT = 1,  /* qvDIODataToLabview without an array handle address */
    QV_LV_NO_OUTPUT = 2,      /* the other conversions without their cluster or handle address */
    QV_LV_RESIZE_FAILED = 5   /* the run-time could not resize an array */
};

/* LabVIEW clusters, packed without gaps. */
#pragma pack(push, 1)

/* Demodulator samples, one array element per sample. Phase comes before
 * frequency here, while DataDemodSample holds frequency first. */
typedef struct QvLvDemodSamples {
    int32_t tag;                /* the caller's tag, stored unchanged */
    QvLvArrayHandle timeStamps; /* uint64_t */
    QvLvArrayHandle x;          /* double */
    QvLvArrayHandle y;          /* double */
    QvLvArrayHandle phase;      /* double */
    QvLvArrayHandle frequency;  /* double */
    QvLvArrayHandle dioBits;    /* uint32_t */
    QvLvArrayHandle auxIn0;     /* double */
    QvLvArrayHandle auxIn1;     /* double */
} QvLvDemodSamples;

/* One scope wave. */
typedef struct QvLvScopeWave {
    QvLvArrayHandle samples; /* int16_t */
    double sampleInterval;   /* seconds, from the wave's header */
} QvLvScopeWave;

#pragma pack(pop)

/* qvAPIGetError for LabVIEW: the text is copied into `text` (QV_LV_TEXT_SIZE
 * bytes, cut to 255 characters, NUL-terminated); kind is 1 for a warning, 2
 * for an error, 0 otherwise. Null outputs are skipped. Returns 0. */
QVAPI_EXPORT QV_STATUS qvAPILVGetError(QV_STATUS code, char* text, int32_t* kind);

/* qvAPIPollData for LabVIEW. Without handle or event: QV_ERR_GENERAL. A
 * failure of qvAPIPollData is returned with count 0. Otherwise valueType and
 * count are the event's, dataOffset is where the data area begins within the
 * event record, and path (QV_LV_TEXT_SIZE bytes) receives the event's path.
 * An integer event gives its value as double and its low 32 bits as integer;
 * a double event gives the double and, as integer, the double truncated
 * toward zero (saturated to the int32_t range, NaN as 0). Other value types
 * leave both numbers untouched. Null outputs are skipped. */
QVAPI_EXPORT QV_STATUS qvAPILVPollData(QvHandle* handle, QvEvent* event, int32_t timeoutMs, char* path,
                                       uint32_t* valueType, uint32_t* count, uint32_t* dataOffset,
                                       int32_t* integerValue, double* doubleValue);

/* Kept for hosts that expect the run-time module hook; does nothing, -1. */
QVAPI_EXPORT int32_t QVetLVRTModule(void);

/* Bytes of a QvEvent record in this build, for LabVIEW to allocate it. */
QVAPI_EXPORT int32_t qvLvSizeofQvEvent(void);

/* Sample conversions. They do not check the event's value type: pass an
 * event of the matching type (demodulator, scope, DIO, aux-input samples). */
QVAPI_EXPORT int32_t qvDemodSampleToLabview(const QvEvent* event, int32_t tag, QvLvDemodSamples* samples);
QVAPI_EXPORT int32_t qvScopeDataToLabview(const QvEvent* event, QvLvScopeWave* wave);
QVAPI_EXPORT int32_t qvDIODataToLabview(const QvEvent* event, QvLvArrayHandle* timeStamps, QvLvArrayHandle* bits);
QVAPI_EXPORT int32_t qvAUXDataToLabview(const QvEvent* event, QvLvArrayHandle* timeStamps, QvLvArrayHandle* ch0,
                                        QvLvArrayHandle* ch1);

#ifdef __cplusplus
}
#endif

#endif /* QVLABVIEW_H */
