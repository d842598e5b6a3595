#include "platform/process/FreeMemory.h"

#include <malloc.h>

namespace tarnix {
namespace platform {

void returnFreeMemory() { ::malloc_trim(0); }

}  // namespace platform
}  // namespace tarnix
