#include "platform/endian/ByteOrder.h"
#include "core/ValueRecord.h"
#include "core/fifo/QVFifo.h"
#include "engine/DeviceAccess.h"
#include "groups/Scopes.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarnix {

QV_STATUS ScopeWaveUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    constexpr uint32_t kMostSamples = (std::numeric_limits<uint32_t>::max() - scopewave::kRecordSamplesOffset) / 2;
    const uint32_t samples = std::min(length / 2, kMostSamples);  // an odd last byte belongs to no sample
    const uint32_t sampleBytes = 2 * samples;
    if (!data && sampleBytes) return QV_BUFFER_TOO_SMALL;

    // One reservation, filled in place: the wave is never copied twice.
    QVFifo::DataAccessor<QVFifo::WriterPolicy> record(outputOf(device), scopewave::kRecordSamplesOffset + sampleBytes);
    if (!record) return QV_OVERFLOW;
    uint8_t* p = record.data();
    ValueRecordHeader head;
    head.sequenceTag = kUnsolicitedSequenceTag;
    head.sessionTag = kUnsolicitedSessionTag;
    head.endpointId = uint32_t(ep->epId);
    head.kind = DATATYPE_SCOPESAMPLE;
    head.flags = VALUE_FLAG_CHANGED;
    putValueRecordHeader(p, head);

    uint8_t* header = p + scopewave::kRecordHeadBytes;
    const std::size_t kept = std::min<std::size_t>(ep->bytes.size(), scopewave::kHeaderBytes);
    std::memset(header, 0, scopewave::kHeaderBytes);
    if (kept) std::memcpy(header, ep->bytes.data(), kept);
    le::put32(header + scopewave::kSampleCountOffset, samples);
    if (sampleBytes) std::memcpy(p + scopewave::kRecordSamplesOffset, data, sampleBytes);
    record.commitAll();
    return QV_NO_ERROR;
}

}  // namespace tarnix
