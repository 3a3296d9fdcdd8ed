// SendOVMsg: every report of the engine leaves through here, as a
// synchronous message to the request's window. Each send builds its text in
// a buffer of its own: the stop trace comes from another thread while the
// scan thread may be sending.
#include <cstdarg>
#include <string>
#include <string_view>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/message.h"
#include "platform/text.h"

namespace {

// Every trace is sent, even while no receiver of ours keeps trace texts
// (Debug off): a receiver sees each message, so one that counts messages or
// follows their order would notice a skipped trace, and the window cannot
// tell us in advance what it will do with the next one (its Debug setting
// may change between two messages). What a message costs is kept small
// instead: no lock unless a pause is asked for, one window lookup, and a
// receiver that reads its settings without a system call.
//
// A text of this many bytes or more is not sent at all.
constexpr size_t kMessageBufferBytes = 8192;
constexpr size_t kMessageBufferUnits = 8192;

void Deliver(platform::WindowHandle window, uint32_t code, const char16_t* text) {
    WaitWhilePaused();
    platform::sendMessage(window, code, text);
}

}  // namespace

int32_t SendOVMsg(int32_t code, const char16_t* format, ...) {
    ScanRequest* request = CurrentRequest();
    const platform::WindowHandle window = request ? request->hwndNotify : 0;
    if (window == 0) return code;
    auto trace = [window](const char16_t* text) { Deliver(window, SCANMSG_DEBUG, text); };
    if (!format) format = u"";

    std::u16string buffer;
    size_t measured = 0;
    trace(u"SendOVMsg Start");
    if (std::u16string_view(format).find(u"%2b") != std::u16string_view::npos) {
        // An escaped plus sign (a web address) would upset the formatter:
        // such a text goes out verbatim, placeholders and all.
        trace(u"SendOVMsg Step 2");
        measured = platform::length16(format);
        if (measured < kMessageBufferUnits) buffer = format;
        trace(u"SendOVMsg Step 2.2");
    } else {
        trace(u"SendOVMsg Step 1");
        trace(u"SendOVMsg Step 1.1");
        va_list args;
        va_start(args, format);
        std::u16string formatted = platform::vformat16(format, args);
        va_end(args);
        measured = formatted.size() * sizeof(char16_t);
        trace(u"SendOVMsg Step 1.2");
        if (measured < kMessageBufferBytes) buffer = std::move(formatted);
        trace(u"SendOVMsg Step 1.3");
        trace(u"SendOVMsg Step 1.4");
    }
    trace(u"SendOVMsg Step 3");
    if (measured < kMessageBufferBytes)
        Deliver(window, static_cast<uint32_t>(code), buffer.c_str());
    trace(u"SendOVMsg Step 4");
    return code;
}
