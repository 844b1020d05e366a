// Mixes several record streams, each downmixed to mono, into IO cycles of one steady size.
//
// Each stream's audio arrives in bursts of its own, while cycles are taken on a clock. A
// source therefore buffers until it holds `primeFrames` before it contributes, and goes back
// to buffering when it holds less than a cycle; a source that is not ready contributes
// silence. A source
// never holds more than `maxFrames`: the oldest audio is dropped, so latency stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>

namespace talvorin::pulse {

class MonoMixer {
 public:
  MonoMixer(std::size_t framesPerCycle, std::size_t primeFrames, std::size_t maxFrames);

  std::size_t framesPerCycle() const noexcept { return framesPerCycle_; }

  void addSource(std::uint32_t key);
  void removeSource(std::uint32_t key);
  bool hasSource(std::uint32_t key) const { return sources_.contains(key); }
  std::size_t sourceCount() const noexcept { return sources_.size(); }
  std::size_t bufferedFrames(std::uint32_t key) const;

  // Appends `frames` interleaved frames of `channels` channels to the source, averaged to
  // one channel; a null `samples` appends silence. Unknown keys are ignored.
  void push(std::uint32_t key, const float* samples, std::size_t frames, std::size_t channels);

  // Writes one cycle (framesPerCycle samples) to `out`: the sum of the ready sources.
  void mixCycle(float* out);

 private:
  struct Source {
    std::deque<float> samples;
    bool ready = false;
  };

  std::size_t framesPerCycle_;
  std::size_t primeFrames_;
  std::size_t maxFrames_;
  std::map<std::uint32_t, Source> sources_;
};

}  // namespace talvorin::pulse
