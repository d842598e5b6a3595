#include "core/ClientNumbers.h"
#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "core/ValueRecord.h"
#include "engine/DeviceState.h"
#include "engine/MessageHandling.h"
#include "engine/SaturatingCast.h"

namespace tarnix {

namespace {

// Each kind of refusal has its own rate limit (`limit`, the caller's site).
QV_STATUS refuse(logging::RateLimit& limit, const char* what, uint32_t epId) {
    QVLOG_LIMITED_BY(limit, logging::error) << what << epId << ").";
    return QV_VALUE_NOT_FOUND;
}

// A value no setting takes (ClientNumbers.h): nothing is stored, and the
// client gets an error in place of the value.
QV_STATUS refuseValue(logging::RateLimit& limit, const char* what, uint32_t epId) {
    QVLOG_LIMITED_BY(limit, logging::warning)
        << "DeviceStateMsgHandler refused " << what << " that fits no setting (EPId=" << epId << ").";
    return kRefusedValueStatus;
}

}  // namespace

QV_STATUS DeviceStateMsgHandler(DeviceAccess& device, const uint8_t* record, uint32_t length) {
    if (!record || length < kValueRecordHeaderSize) {
        QVLOG_LIMITED(logging::error) << "DeviceStateMsgHandler malformed request (length=" << length << ").";
        return QV_BUFFER_TOO_SMALL;
    }
    const ValueRecordHeader header = getValueRecordHeader(record);
    const uint32_t id = header.endpointId;
    EPNodePtr ep = DeviceStateEPNodesFind(stateOf(device).epNodes, int32_t(id));
    if (!ep) return refuse(QV_LOG_SITE_LIMIT(), "DeviceStateMsgHandler node not found (EPId=", id);

    const uint16_t kind = header.kind;
    if (kind != DATATYPE_GETVALUE && kind != DATATYPE_DOUBLE && kind != DATATYPE_INTEGER &&
        kind != DATATYPE_BYTEARRAY)
        return QV_NO_ERROR;  // other kinds are accepted and ignored

    ValueRecordView view;
    if (!parseValueRecord(record, length, view)) {
        QVLOG_LIMITED(logging::error) << "DeviceStateMsgHandler malformed request (EPId=" << id
                                      << ", length=" << length << ").";
        return QV_BUFFER_TOO_SMALL;
    }

    switch (kind) {
        case DATATYPE_GETVALUE: {
            if (!ep->readData)
                return refuse(QV_LOG_SITE_LIMIT(),
                              "DeviceStateMsgHandler node not readable - no ReadDataFunc set (EPId=", id);
            QV_STATUS s = ep->readData(device, ep, header.sequenceTag, header.sessionTag);
            if (s) {
                if (s == QV_OVERFLOW) {
                    QVLOG_LIMITED(logging::error) << "QV_OVERFLOW:";
                }
                QVLOG_LIMITED(logging::error) << "DeviceStateMsgHandler ERROR OUT 1 (EPId=" << id << ").";
            }
            return s;
        }
        case DATATYPE_DOUBLE:
        case DATATYPE_INTEGER: {
            if (!ep->writeNumber)
                return refuse(QV_LOG_SITE_LIMIT(), "DeviceStateMsgHandler node not writeable for numbers (EPId=",
                              id);
            double value;
            int64_t integer;
            if (kind == DATATYPE_INTEGER) {
                integer = view.asInteger();
                value = double(integer);
                if (!fitsSettingWord(integer)) return refuseValue(QV_LOG_SITE_LIMIT(), "an integer", id);
            } else {
                value = view.asDouble();
                integer = saturatingCast<int64_t>(value);
                if (!isSettingNumber(value)) return refuseValue(QV_LOG_SITE_LIMIT(), "NaN", id);
            }
            QV_STATUS s = ep->writeNumber(device, ep, header.sequenceTag, header.sessionTag, value, integer);
            if (s) {
                QVLOG_LIMITED(logging::error) << "DeviceStateMsgHandler ERROR OUT 2.";
            }
            return s;
        }
        default: {
            if (!ep->writeBytes)
                return refuse(QV_LOG_SITE_LIMIT(),
                              "DeviceStateMsgHandler node not writeable for byte arrays (EPId=", id);
            QV_STATUS s = ep->writeBytes(device, ep, header.sequenceTag, header.sessionTag, view.value, view.valueLength);
            if (s) {
                QVLOG_LIMITED(logging::error) << "DeviceStateMsgHandler ERROR OUT 3.";
            }
            return s;
        }
    }
}

}  // namespace tarnix
