// The deep scan's PE header walk over arbitrary bytes: every offset and size
// in the headers comes from the file, and nothing may be read outside it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/engine_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> image(data, data + size);
    HashImageSections(image.data(), image.size(), static_cast<int64_t>(image.size()),
                      u"C:\\fuzz\\image.exe", nullptr);
    return 0;
}
