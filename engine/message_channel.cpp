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

// Traces go only to a window that wants them. Our receivers keep a trace
// text only while their Debug setting is on and declare so through their
// message interest; the channel asks once per call, before it builds the
// text, and skips the call's traces (and the message itself when it is a
// trace) when the answer is no. A receiver cannot tell the difference:
// - a skipped message is one it would have dropped, by its own word, at the
//   moment the channel asked;
// - the traces of one call are sent back to back, with nothing the outside
//   can see in between, so one answer for all of them is the answer the
//   receiver would have given had its setting changed just after the call;
//   a change of the setting takes effect at the next call;
// - every message other than a trace is sent as before, and a receiver
//   without an interest gets every trace.
// The pause gate is passed once per call even when nothing is sent, so a
// pause still stops the scan at its next message.
//
// A text of this many bytes or more is not sent at all.
constexpr size_t kMessageBufferBytes = 8192;
constexpr size_t kMessageBufferUnits = 8192;

void Deliver(platform::WindowHandle window, uint32_t code, const char16_t* text) {
    WaitWhilePaused();
    platform::sendMessage(window, code, text);
}

}  // namespace

bool TracesWanted() {
    ScanRequest* request = CurrentRequest();
    const platform::WindowHandle window = request ? request->hwndNotify : 0;
    return window != 0 && platform::windowWantsMessage(window, SCANMSG_DEBUG);
}

int32_t SendOVMsg(int32_t code, const char16_t* format, ...) {
    ScanRequest* request = CurrentRequest();
    const platform::WindowHandle window = request ? request->hwndNotify : 0;
    if (window == 0) return code;
    const bool traces = platform::windowWantsMessage(window, SCANMSG_DEBUG);
    if (!traces && code == SCANMSG_DEBUG) {
        WaitWhilePaused();
        return code;
    }
    auto trace = [window, traces](const char16_t* text) {
        if (traces) Deliver(window, SCANMSG_DEBUG, text);
    };
    if (!format) format = u"";

    // A finding's report line is delivered whatever its length: a file deep
    // in a tree is never counted as infected yet missing from the report.
    const bool anyLength = code == SCANMSG_REPORT_LINE;
    std::u16string buffer;
    size_t measured = 0;
    trace(u"SendOVMsg Start");
    if (std::u16string_view(format).find(u"%2b") != std::u16string_view::npos) {
        // An escaped plus sign (a web address) would upset the formatter:
        // such a text goes out verbatim, placeholders and all.
        trace(u"SendOVMsg Step 2");
        measured = platform::length16(format);
        if (measured < kMessageBufferUnits || anyLength) buffer = format;
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
        if (measured < kMessageBufferBytes || anyLength) buffer = std::move(formatted);
        trace(u"SendOVMsg Step 1.3");
        trace(u"SendOVMsg Step 1.4");
    }
    trace(u"SendOVMsg Step 3");
    if (measured < kMessageBufferBytes || anyLength)
        Deliver(window, static_cast<uint32_t>(code), buffer.c_str());
    trace(u"SendOVMsg Step 4");
    return code;
}
