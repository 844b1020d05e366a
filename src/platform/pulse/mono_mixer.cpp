#include "platform/pulse/mono_mixer.hpp"

#include <algorithm>

namespace talvorin::pulse {

MonoMixer::MonoMixer(std::size_t framesPerCycle, std::size_t primeFrames, std::size_t maxFrames)
    : framesPerCycle_(framesPerCycle),
      primeFrames_(std::max(primeFrames, std::size_t{1})),
      maxFrames_(std::max(maxFrames, primeFrames_)) {}

void MonoMixer::addSource(std::uint32_t key) {
  sources_.try_emplace(key);
}

void MonoMixer::removeSource(std::uint32_t key) {
  sources_.erase(key);
}

std::size_t MonoMixer::bufferedFrames(std::uint32_t key) const {
  const auto found = sources_.find(key);
  return found == sources_.end() ? 0 : found->second.samples.size();
}

void MonoMixer::push(std::uint32_t key, const float* samples, std::size_t frames,
                     std::size_t channels) {
  const auto found = sources_.find(key);
  if (found == sources_.end() || channels == 0) return;
  Source& source = found->second;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    float sum = 0.0F;
    if (samples != nullptr) {
      for (std::size_t channel = 0; channel < channels; ++channel) {
        sum += samples[frame * channels + channel];
      }
    }
    // The average keeps a mono source played on every channel at its own level.
    source.samples.push_back(sum / static_cast<float>(channels));
  }
  if (source.samples.size() > maxFrames_) {
    source.samples.erase(
        source.samples.begin(),
        source.samples.begin() + static_cast<std::ptrdiff_t>(source.samples.size() - maxFrames_));
  }
  if (source.samples.size() >= primeFrames_) source.ready = true;
}

void MonoMixer::mixCycle(float* out) {
  std::fill_n(out, framesPerCycle_, 0.0F);
  for (auto& [key, source] : sources_) {
    // A source short of a whole cycle waits for more rather than splitting a cycle with a
    // gap: it goes back to buffering and keeps what it has.
    if (!source.ready || source.samples.size() < framesPerCycle_) {
      source.ready = false;
      continue;
    }
    for (std::size_t i = 0; i < framesPerCycle_; ++i) out[i] += source.samples[i];
    source.samples.erase(source.samples.begin(),
                         source.samples.begin() + static_cast<std::ptrdiff_t>(framesPerCycle_));
  }
}

}  // namespace talvorin::pulse
