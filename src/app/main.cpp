// The program's entry: the one place that meets the platform's backend.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "app/platform_services.hpp"
#include "app/talvorin_audio_helper.hpp"
#include "discovery/input_process_watcher.hpp"

namespace talvorin {

void TalvorinAudioHelper::main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);

  // A reader that closes a pipe must surface as a failed write, which the frame writer
  // answers by ending the process, not as a signal that kills it mid-frame or that a closed
  // standard error could trigger.
  std::signal(SIGPIPE, SIG_IGN);

  PlatformServices platform = makePlatformServices();

  if (isWatchMode(arguments)) {
    runInputProcessWatcher(*platform.hardware, STDOUT_FILENO, [](double seconds) {
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    });
  }

  const std::optional<int> exitStatus =
      startCapture(*platform.hardware, *platform.dispatch, platform.engineName,
                   CoreAudioTapCapture::Streams{}, [] { std::_Exit(kExitOutputClosed); });
  // _Exit: other threads are running, and nothing buffered needs flushing (every write goes
  // straight to its descriptor).
  if (exitStatus) std::_Exit(*exitStatus);
  platform.dispatch->runMainLoop();
  std::abort();  // the main loop never returns; compilers do not trust a virtual [[noreturn]]
}

}  // namespace talvorin

int main(int argc, char** argv) {
  talvorin::TalvorinAudioHelper::main(argc, argv);
}
