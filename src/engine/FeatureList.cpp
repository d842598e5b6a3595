#include "engine/FeatureList.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"

#include <boost/format.hpp>

namespace tarnix {

FeatureHeader readFeatureHeader(const uint8_t* p) {
    FeatureHeader h;
    h.code = le::get16(p);
    h.version = le::get16(p + 2);
    h.length = le::get32(p + 4);
    h.name = reinterpret_cast<const char*>(p + 8);
    return h;
}

FeatureBlock readFeatureBlock(const uint8_t* p) {
    return {le::get32(p), le::get32(p + 4), le::get32(p + 8), le::get32(p + 12)};
}

std::string featureNameText(const char* name8) {
    std::string text(name8, 8);
    for (char& c : text)
        if (c < 0x20 || c > 0x7E) c = '?';
    return text;
}

QV_STATUS FeatureListParse(const uint8_t* data, uint32_t length, std::vector<FeatureRecordView>& views) {
    views.clear();
    uint32_t offset = 0;
    while (offset < length) {
        if (data[offset] == 0) {  // no code has a zero low byte
            ++offset;
            continue;
        }
        const uint32_t remaining = length - offset;
        if (remaining < kFeatureHeaderBytes) return QV_BUFFER_TOO_SMALL;
        const FeatureHeader header = readFeatureHeader(data + offset);
        if (header.length > remaining) {
            QVLOG(logging::error) << boost::format(
                                         "Length in feature header exceeds remaining data in the buffer: %u > %ld. "
                                         "Feature name: '%s' (Code=%04x)") %
                                         header.length % long(remaining) % featureNameText(header.name) % header.code;
            return QV_BUFFER_TOO_SMALL;
        }
        // A length below the header would never advance (0) or give a negative data length.
        if (header.length < kFeatureHeaderBytes) {
            QVLOG(logging::error) << boost::format(
                                         "Length in feature header is shorter than the header: %u < %u. "
                                         "Feature name: '%s' (Code=%04x)") %
                                         header.length % kFeatureHeaderBytes % featureNameText(header.name) %
                                         header.code;
            return QV_BUFFER_TOO_SMALL;
        }
        if (views.size() >= kMaxFeatureRecords) return QV_BUFFER_TOO_SMALL;
        FeatureRecordView view;
        view.header = header;
        view.data = data + offset + kFeatureHeaderBytes;
        view.dataLength = header.length - kFeatureHeaderBytes;
        views.push_back(view);
        offset += header.length;
    }
    return QV_NO_ERROR;
}

}  // namespace tarnix
