#include "app/settings/news_text.h"

#include "platform/text.h"

namespace {
constexpr size_t kNewsMaxBytes = 511;
constexpr size_t kNewsMaxUnits = 512;
constexpr size_t kNewsDroppedUnits = 5;
}  // namespace

std::optional<std::u16string> NewsTextFromReply(std::string_view reply) {
    const size_t zero = reply.find('\0');
    if (zero != std::string_view::npos) reply = reply.substr(0, zero);
    if (reply.empty() || reply.size() > kNewsMaxBytes) return std::nullopt;
    std::u16string text = platform::fromAnsi(reply);
    if (text.size() > kNewsMaxUnits) text.resize(kNewsMaxUnits);
    if (text.size() < kNewsDroppedUnits) return std::nullopt;
    text.resize(text.size() - kNewsDroppedUnits);
    return text;
}
