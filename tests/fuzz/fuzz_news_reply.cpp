// The news line's reply: whatever the news host sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/settings/news_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const auto text = NewsTextFromReply(reply);
    if (text.has_value() && text->size() > 507) abort();
    if (text.has_value() && (reply.empty() || reply[0] == '\0')) abort();
    return 0;
}
