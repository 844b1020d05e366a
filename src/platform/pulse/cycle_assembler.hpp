// Gathers the chunks a record stream hands over (any size, down to one frame) into IO cycles
// of one steady size, as a device's IO thread would deliver them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace talvorin::pulse {

class CycleAssembler {
 public:
  CycleAssembler(std::size_t channels, std::size_t framesPerCycle)
      : channels_(channels), framesPerCycle_(framesPerCycle), cycle_(channels * framesPerCycle) {}

  std::size_t channels() const noexcept { return channels_; }
  std::size_t framesPerCycle() const noexcept { return framesPerCycle_; }
  // Frames waiting for the cycle to fill.
  std::size_t pendingFrames() const noexcept { return filled_; }

  // Appends `frames` interleaved frames; a null `samples` appends silence of that length (a
  // hole in the stream keeps its place in time). Calls deliver(const float*, frames) once
  // for every cycle completed.
  template <typename Deliver>
  void push(const float* samples, std::size_t frames, Deliver&& deliver) {
    while (frames > 0) {
      const std::size_t take = std::min(frames, framesPerCycle_ - filled_);
      float* destination = cycle_.data() + filled_ * channels_;
      if (samples != nullptr) {
        std::copy_n(samples, take * channels_, destination);
        samples += take * channels_;
      } else {
        std::fill_n(destination, take * channels_, 0.0F);
      }
      filled_ += take;
      frames -= take;
      if (filled_ == framesPerCycle_) {
        deliver(static_cast<const float*>(cycle_.data()), framesPerCycle_);
        filled_ = 0;
      }
    }
  }

 private:
  std::size_t channels_;
  std::size_t framesPerCycle_;
  std::vector<float> cycle_;
  std::size_t filled_ = 0;
};

}  // namespace talvorin::pulse
