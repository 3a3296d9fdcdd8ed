// A whole report file's bytes to its infection count, as the reports list
// reads them: never a read past the text, any count in the 32-bit range.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/results/report_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)ScanResultCountFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
