// One connection to the audio server: a libpulse threaded mainloop and its context.
//
// Threads: libpulse runs every callback on the mainloop thread while holding the mainloop
// lock. Every other thread takes the same lock (Lock) before it touches the context or any
// state the callbacks share, and blocks in wait() for answers; wait() releases the lock while
// it sleeps, so the mainloop thread can run the callbacks that complete the wait. Waiting on
// the mainloop thread itself would deadlock, so callers check inLoopThread() first.
#pragma once

#include <functional>

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

#include "platform/core_audio_types.hpp"

namespace talvorin::pulse {

class PulseLoop {
 public:
  // How long any synchronous wait on the server may take.
  static constexpr double kWaitSeconds = 5.0;

  // Connects to the server the environment names (libpulse's default rules) and waits for
  // the context to be ready. Never throws: a failure leaves the loop disconnected.
  explicit PulseLoop(const char* clientName);
  ~PulseLoop();

  PulseLoop(const PulseLoop&) = delete;
  PulseLoop& operator=(const PulseLoop&) = delete;

  class Lock {
   public:
    explicit Lock(PulseLoop& loop) : loop_(loop.mainloop_) {
      if (loop_ != nullptr) pa_threaded_mainloop_lock(loop_);
    }
    ~Lock() {
      if (loop_ != nullptr) pa_threaded_mainloop_unlock(loop_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // Lock held. True while the context is ready.
  bool connected() const;
  pa_context* context() const noexcept { return context_; }
  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(mainloop_); }
  bool inLoopThread() const;

  // Wakes every waiter; called by callbacks on the mainloop thread.
  void signal();

  // Lock held, not on the mainloop thread. Waits until `done` holds, the connection fails or
  // the wait limit passes. Returns noErr, kServerUnreachable or kServerTimedOut.
  OSStatus waitUntil(const std::function<bool()>& done, double seconds = kWaitSeconds);

  // Lock held. Waits for `operation` (whose callbacks fill the caller's result) to finish,
  // then releases it; on timeout or a lost connection it is cancelled first. A null operation
  // means the request could not be sent.
  OSStatus complete(pa_operation* operation);

  // The status every call answers with when the connection is not usable: noErr when it is.
  OSStatus usable() const;

 private:
  static void onContextState(pa_context* context, void* userdata);

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace talvorin::pulse
