#include "platform/pulse/pulse_loop.hpp"

#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include "platform/pulse/status_codes.hpp"

namespace talvorin::pulse {
namespace {

struct WaitTimer {
  PulseLoop* loop;
  bool expired = false;
};

void onWaitTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  auto* timer = static_cast<WaitTimer*>(userdata);
  timer->expired = true;
  timer->loop->signal();
}

void onOperationState(pa_operation*, void* userdata) {
  static_cast<PulseLoop*>(userdata)->signal();
}

}  // namespace

PulseLoop::PulseLoop(const char* clientName) {
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), clientName);
  if (context_ == nullptr) return;
  pa_context_set_state_callback(context_, &PulseLoop::onContextState, this);
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    pa_context_unref(context_);
    context_ = nullptr;
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    return;
  }
  Lock lock(*this);
  // No autospawn: a helper must not start a sound server behind the user's back.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
  waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
}

PulseLoop::~PulseLoop() {
  if (mainloop_ == nullptr) return;
  if (context_ != nullptr) {
    {
      Lock lock(*this);
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_set_subscribe_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_context_unref(context_);
  } else {
    pa_threaded_mainloop_stop(mainloop_);
  }
  pa_threaded_mainloop_free(mainloop_);
}

bool PulseLoop::connected() const {
  return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseLoop::inLoopThread() const {
  return mainloop_ != nullptr && pa_threaded_mainloop_in_thread(mainloop_) != 0;
}

void PulseLoop::signal() {
  if (mainloop_ != nullptr) pa_threaded_mainloop_signal(mainloop_, 0);
}

OSStatus PulseLoop::usable() const {
  if (!connected()) return kServerUnreachable;
  if (inLoopThread()) return kWrongThread;
  return noErr;
}

OSStatus PulseLoop::waitUntil(const std::function<bool()>& done, double seconds) {
  if (mainloop_ == nullptr || context_ == nullptr) return kServerUnreachable;
  if (inLoopThread()) return kWrongThread;
  WaitTimer timer{this};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
  struct timeval deadline {};
  pa_gettimeofday(&deadline);
  pa_timeval_add(&deadline, static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC));
  pa_time_event* event = api->time_new(api, &deadline, &onWaitTimer, &timer);

  OSStatus status = noErr;
  for (;;) {
    if (done()) break;
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
      status = kServerUnreachable;
      break;
    }
    if (timer.expired) {
      status = kServerTimedOut;
      break;
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  api->time_free(event);
  return status;
}

OSStatus PulseLoop::complete(pa_operation* operation) {
  if (operation == nullptr) return connected() ? kStreamFailed : kServerUnreachable;
  pa_operation_set_state_callback(operation, &onOperationState, this);
  OSStatus status =
      waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
  if (status != noErr) {
    pa_operation_cancel(operation);
  } else if (pa_operation_get_state(operation) == PA_OPERATION_CANCELLED) {
    status = kServerUnreachable;
  }
  pa_operation_set_state_callback(operation, nullptr, nullptr);
  pa_operation_unref(operation);
  return status;
}

void PulseLoop::onContextState(pa_context*, void* userdata) {
  static_cast<PulseLoop*>(userdata)->signal();
}

}  // namespace talvorin::pulse
