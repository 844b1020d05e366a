// Server-side helpers for the end-to-end tests: sinks and sources loaded for one test, silent
// keepers that hold a null sink at low latency, players, and a second server with no sink.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/pulse/pulse_test_support.hpp"
#include "subprocess.hpp"

namespace talvorin::testing {

// A module loaded with pactl for the life of the object.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& arguments);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  bool loaded() const noexcept { return !index_.empty(); }

 private:
  std::string index_;
};

// A null sink, 48000 Hz stereo like the server's own, with a silent low-latency stream playing
// on it: a null sink with nothing playing runs at 2 s latency.
class ExtraSink {
 public:
  explicit ExtraSink(const std::string& name);
  bool ready() const noexcept { return module_.loaded(); }

 private:
  LoadedModule module_;
  std::unique_ptr<ChildProcess> keeper_;
};

// The default sink's name.
std::string defaultSink();
// True once the server lists a client whose process ID is `pid`.
bool hasClientWithPid(pid_t pid);
// Plays a 30 s sine of `frequency` at `amplitude` (stereo, 48000 Hz) on `sink` (default when
// empty) and waits until the player is a client of the server.
std::unique_ptr<ChildProcess> playTone(double frequency, double amplitude,
                                       const std::string& sink = "");

// A second private server with no sink at all; stopped when the object goes.
class BareServer {
 public:
  BareServer();
  ~BareServer();
  BareServer(const BareServer&) = delete;
  BareServer& operator=(const BareServer&) = delete;
  bool ready() const noexcept { return ready_; }
  // The environment entry that points a client at this server.
  std::string serverVariable() const { return "PULSE_SERVER=unix:" + directory_ + "/native"; }

 private:
  std::string directory_;
  std::unique_ptr<Subprocess> server_;
  bool ready_ = false;
};

}  // namespace talvorin::testing
