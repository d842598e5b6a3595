#pragma once
#include "groups/auxdio/HandlerTypes.h"
#include "groups/common/WordSetting.h"

#include <cstdint>

namespace tarnix {
namespace auxdio {

// The three client-facing handlers of an integer setting held in one register
// word: ToWord(value) turns a client's value into the word to store,
// Shown(word) gives the value a word stands for. The write uses the integer
// form of the client's value (a double arrives truncated).
template <uint32_t (*ToWord)(int64_t), int64_t (*Shown)(uint32_t)>
struct MappedIntegerSetting {
    static QV_STATUS read(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
        return ReplyWordAsInteger(device, ep, seq, session, Shown);
    }
    static QV_STATUS write(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                           int64_t value) {
        return StoreWordReplyInteger(device, ep, seq, session, ToWord(value), Shown);
    }
    static QV_STATUS update(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
        return PushNewWordAsInteger(device, ep, data, length, Shown);
    }
};

}  // namespace auxdio
}  // namespace tarnix
