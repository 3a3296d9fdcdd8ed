// TranslatePath and RemoveBadChars: turning a command line, a service's
// image path or a registry value into a file path that can be opened.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/text.h"

namespace {

constexpr size_t kResultUnits = 2048;
constexpr size_t kWorkUnits = 256;

struct Token {
    const char16_t* traceBefore;  // null: no trace before the try
    const char16_t* token;
    const char16_t* replacement;
};

const Token kTokens[] = {
    {nullptr, u"%systemroot%", u"c:\\windows\\"},
    {u"  TranslatePath [INFO] Step 9", u"%programfiles(x86)%", u"c:\\program Files (x86)\\"},
    {u"  TranslatePath [INFO] Step 10", u"%programfiles%", u"c:\\program Files\\"},
    {u"  TranslatePath [INFO] Step 11", u"Windows", u"c:\\windows"},
    {u"  TranslatePath [INFO] Step 12", u"SystemRoot", u"c:\\windows"},
    {u"  TranslatePath [INFO] Step 13", u"programdata", u"c:\\ProgramData"},
    {u"  TranslatePath [INFO] Step 14", u"system32", u"c:\\windows\\system32"},
    {u"  TranslatePath [INFO] Step 15", u"drivers", u"c:\\windows\\system32\\drivers"},
    {u"  TranslatePath [INFO] Step 16", u"users", u"c:\\Users"},
};

const char16_t* const kExtensions[] = {u".exe", u".sys", u".dll", u".ocx",
                                       u".drv", u".acm", u".cpm"};

std::unique_ptr<char16_t[]> NewResult() {
    return std::unique_ptr<char16_t[]>(new (std::nothrow) char16_t[kResultUnits]());
}

// RemoveBadChars on the result; an empty result gives no path at all.
std::unique_ptr<char16_t[]> Finish(std::unique_ptr<char16_t[]> result) {
    if (!RemoveBadChars(result.get())) return nullptr;
    return result;
}

}  // namespace

std::unique_ptr<char16_t[]> TranslatePath(char16_t* text) {
    if (!text) return nullptr;
    // A command line or registry text ends at its first character outside
    // 32..122; what follows is never part of the program's path.
    for (char16_t* p = text; *p; ++p) {
        if (*p < 32 || *p > 122) {
            *p = 0;
            break;
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 1 -> %s", text);

    std::unique_ptr<char16_t[]> result = NewResult();
    if (!result) {
        SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 18");
        return nullptr;
    }
    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 2");
    const std::u16string_view view(text);

    if (view.find(u"c:\\") != std::u16string_view::npos ||
        view.find(u"d:\\") != std::u16string_view::npos) {
        platform::copy16(result.get(), kResultUnits, view);
        SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 3");
        return Finish(std::move(result));
    }

    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 4");
    bool hasExtension = false;
    for (const char16_t* extension : kExtensions) {
        if (view.find(extension) != std::u16string_view::npos) {
            SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 5");
            hasExtension = true;
            break;
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 6");
    if (!hasExtension) {
        platform::copy16(result.get(), kResultUnits, view);
        SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 7");
        return Finish(std::move(result));
    }

    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 8");
    for (const Token& token : kTokens) {
        if (token.traceBefore) SendOVMsg(SCANMSG_DEBUG, token.traceBefore);
        const size_t at = view.find(token.token);
        if (at == std::u16string_view::npos) continue;
        const size_t rest = at + std::char_traits<char16_t>::length(token.token);
        std::u16string translated = token.replacement;
        const bool systemRoot = std::u16string_view(token.token) == u"SystemRoot";
        if (systemRoot) {
            SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.1");
            SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.2 %s", token.replacement);
            SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.3");
        }
        for (size_t i = rest; i < view.size() && translated.size() < kResultUnits - 1; ++i) {
            translated.push_back(view[i]);
            if (systemRoot)
                SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 12.3.%d",
                          static_cast<int>(i));
        }
        platform::copy16(result.get(), kResultUnits, translated);
        return Finish(std::move(result));
    }

    SendOVMsg(SCANMSG_DEBUG, u"  TranslatePath [INFO] Step 17: %s <> %s", result.get(), text);
    return Finish(std::move(result));
}

char16_t* RemoveBadChars(char16_t* text) {
    if (!text || !*text) return nullptr;
    SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 1");
    SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 3");
    const std::u16string_view view(text);
    // The first pattern that occurs at all wins, whatever its position.
    const char16_t* const patterns[] = {u".exe /", u".exe -", u".exe\" /"};
    size_t keep = std::u16string_view::npos;
    for (const char16_t* pattern : patterns) {
        const size_t at = view.find(pattern);
        if (at != std::u16string_view::npos) {
            keep = at + 4;  // up to and including ".exe"
            break;
        }
    }
    SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 4");
    if (keep != std::u16string_view::npos && keep < kWorkUnits) {
        SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 5");
        text[keep] = 0;
        SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 5.1, %s", text);
    } else {
        SendOVMsg(SCANMSG_DEBUG, u"  RemoveBadChars [INFO] Step 6");
    }
    return text;
}
