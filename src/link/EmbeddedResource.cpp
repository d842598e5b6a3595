#include "link/EmbeddedResource.h"

#include "digest/Md5.h"

#include <map>

namespace tarnix {
namespace {

std::map<std::string, EmbeddedResource*>& registry() {
    static std::map<std::string, EmbeddedResource*> resources;
    return resources;
}

}  // namespace

void registerEmbeddedResource(EmbeddedResource& record, const std::string& name, const uint8_t* block,
                              uint32_t offset, uint32_t size, const std::array<uint8_t, 16>& expectedDigest) {
    record.name = name;
    record.offset = offset;
    record.size = size;
    record.expectedDigest = expectedDigest;
    record.block = block;
    record.valid = false;
    registry()[name] = &record;
    record.valid = block != nullptr && Md5::of(record.bytes(), size) == expectedDigest;
}

const EmbeddedResource* findEmbeddedResource(const std::string& name) {
    const auto& resources = registry();
    const auto found = resources.find(name);
    return found == resources.end() ? nullptr : found->second;
}

}  // namespace tarnix
