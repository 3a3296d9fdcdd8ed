// SendOVMsg: every report of the engine leaves through here, as a
// synchronous message to the request's window. Each send builds its text in
// a buffer of its own: the stop trace comes from another thread while the
// scan thread may be sending.
#include <cstdarg>
#include <string>
#include <string_view>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "platform/coarse_clock.h"
#include "platform/message.h"
#include "platform/text.h"

namespace {

// Traces go only to a window that wants them. Our receivers keep a trace
// text only while their Debug setting is on and declare so through their
// message interest; the channel asks at most once per call, before it
// builds the text, and skips the call's traces (and the message itself
// when it is a trace) when the answer is no. A receiver cannot tell the
// difference:
// - a skipped message is one it would have dropped, by its own word, at the
//   moment the channel asked;
// - the traces of one call are sent back to back, with nothing the outside
//   can see in between, so one answer for all of them is the answer the
//   receiver would have given had its setting changed just after the call;
//   a change of the setting takes effect at the next call (an answer about
//   traces may be kept a little longer, see below);
// - every message other than a trace is sent as before, and a receiver
//   without an interest gets every trace.
// The pause gate is passed once per call even when nothing is sent, so a
// pause still stops the scan at its next message. A call's traces and its
// message are delivered together, in their order, once its text is built.
//
// Asking costs a window lookup and the window's call lock, and a scan of
// small files would ask several times a file. So a thread keeps the answer
// it got for its window until the coarse clock ticks on (a few
// milliseconds), for every call: a receiver that turns its traces on gets
// them a tick later at the most, and one that turns them off may still get
// those of that tick, which it drops as it drops any trace it does not keep.
//
// A text of this many bytes or more is not sent at all.
constexpr size_t kMessageBufferBytes = 8192;
constexpr size_t kMessageBufferUnits = 8192;

void Deliver(platform::WindowHandle window, uint32_t code, const char16_t* text) {
    WaitWhilePaused();
    platform::sendMessage(window, code, text);
}

// The answer about traces a thread keeps for its window, and the coarse
// clock's tick it was given in.
struct KeptAnswer {
    platform::WindowHandle window = 0;
    int64_t tick = 0;
    bool wanted = false;
};

thread_local KeptAnswer t_kept;

bool WindowWantsTraces(platform::WindowHandle window) {
    const int64_t tick = platform::coarseMonotonicMs();
    if (t_kept.window == window && t_kept.tick == tick) return t_kept.wanted;
    const bool wanted = platform::windowWantsMessage(window, SCANMSG_DEBUG);
    t_kept = KeptAnswer{window, tick, wanted};
    return wanted;
}

// The window of the running request; 0 when there is none.
platform::WindowHandle RequestWindow() {
    ScanRequest* request = CurrentRequest();
    return request ? request->hwndNotify : 0;
}

}  // namespace

bool TracesWanted() {
    const platform::WindowHandle window = RequestWindow();
    return window != 0 && WindowWantsTraces(window);
}

int32_t SendOVMsg(int32_t code, const char16_t* format, ...) {
    const platform::WindowHandle window = RequestWindow();
    if (window == 0) return code;
    const bool isTrace = code == SCANMSG_DEBUG;
    const bool traces = WindowWantsTraces(window);
    if (!traces && isTrace) {
        WaitWhilePaused();
        return code;
    }
    // With traces on, the call's traces and its message go out together,
    // in the order they are made, once the text is built: one delivery
    // (and one pass of the pause gate) instead of nine.
    platform::WindowMessage batch[10];
    size_t batched = 0;
    auto trace = [&](const char16_t* text) {
        if (traces) batch[batched++] = {SCANMSG_DEBUG, text};
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
    const bool sent = measured < kMessageBufferBytes || anyLength;
    if (!traces) {
        if (sent) Deliver(window, static_cast<uint32_t>(code), buffer.c_str());
        return code;
    }
    if (sent) batch[batched++] = {static_cast<uint32_t>(code), buffer.c_str()};
    trace(u"SendOVMsg Step 4");
    WaitWhilePaused();
    platform::sendMessages(window, batch, batched);
    return code;
}
