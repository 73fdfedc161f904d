// Running a call on the main (user-interface) thread from another thread.
//
// How it works: the thread that calls InitMainThread (or Synchronize) first
// becomes the main thread; a message-only window is created on it. A call
// from another thread is sent to that window (SendMessage), so it runs when
// the main thread next retrieves messages, and the caller waits for it. An
// exception thrown by the call is passed back to the caller.
//
// Caution: the main thread must not be blocked waiting for the calling
// thread without dispatching messages, or both wait for ever.
#pragma once

#include <windows.h>

#include <functional>

namespace wc {

// Makes the calling thread the main thread, once; later calls do nothing.
void InitMainThread();
// The main thread's id; 0 before InitMainThread.
DWORD MainThreadId();
bool IsMainThread();

// Runs `call` on the main thread and waits for it; on the main thread (or
// before there is one) it runs directly.
void Synchronize(const std::function<void()>& call);

}  // namespace wc
