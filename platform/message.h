// Window messages: 32-bit window handles and synchronous delivery.
//
// The handle table lives in libovplatform.so, so a program and the engine
// library it loads see the same table. A receiver is either thread-safe
// (called on the sender's thread, calls to one window serialised and in
// order) or bound to the thread that created it (the sender blocks until that
// thread has handled the message in pumpWindowMessages).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

using WindowHandle = uint32_t;  // 0 is never a window

// The receiver gets the message code and its text (valid only during the
// call; the receiver copies what it keeps). Its result is the send's result.
using MessageReceiver = std::function<intptr_t(uint32_t code, const char16_t* text)>;

enum class ReceiverThreading {
    ThreadSafe,   // run on the sending thread, one call at a time per window
    OwnerThread,  // run on the creating thread when it pumps
};

WindowHandle createWindow(MessageReceiver receiver,
                          ReceiverThreading threading = ReceiverThreading::ThreadSafe);

// Removes the window; a send in progress finishes first. Later sends fail.
void destroyWindow(WindowHandle window);

bool isWindow(WindowHandle window);

// Which messages a receiver would do nothing with at this moment: false for
// a code means a message of that code, sent now, would leave no trace in
// the receiver. A sender may ask (windowWantsMessage) and then skip building
// and sending it; sendMessage itself still delivers everything it is given.
// The interest runs on the asking thread; for a thread-safe window it runs
// under the window's call lock, one call at a time with the receiver.
using MessageInterest = std::function<bool(uint32_t code)>;
void setMessageInterest(WindowHandle window, MessageInterest interest);

// True unless the window declared no interest in the code right now; false
// for a window that does not exist (a send to it would fail).
bool windowWantsMessage(WindowHandle window, uint32_t code);

// SendMessage: delivers (code, text) and returns the receiver's result once
// it has been handled. 0 with last error 1400 for an unknown window. A send
// to an OwnerThread window from its own thread runs the receiver at once.
intptr_t sendMessage(WindowHandle window, uint32_t code, const char16_t* text);

// Several messages to one window, in order, as sendMessage would deliver
// them one after another, except that no other thread's message comes
// between them: a thread-safe receiver's call lock is taken once for all.
// Stops at the first that cannot be delivered (last error 1400).
struct WindowMessage {
    uint32_t code = 0;
    const char16_t* text = nullptr;
};
void sendMessages(WindowHandle window, const WindowMessage* messages, size_t count);

// Handles the messages waiting for windows owned by the calling thread;
// waits up to timeoutMs for the first one (0 = do not wait). Returns how
// many were handled.
int pumpWindowMessages(int timeoutMs);

}  // namespace platform
