#include "platform/pulse/capture_engine.hpp"

namespace talvorin::pulse {

void CycleDelivery::operator()(const float* samples, std::size_t frames) {
  AudioBufferList input{};
  input.mNumberBuffers = 1;
  input.mBuffers[0].mNumberChannels = channels_;
  input.mBuffers[0].mDataByteSize = static_cast<UInt32>(frames * channels_ * sizeof(float));
  // The IO procedure reads the input through a const list; Core Audio's record is not const.
  input.mBuffers[0].mData = const_cast<float*>(samples);
  AudioBufferList output{};
  output.mNumberBuffers = 0;

  AudioTimeStamp now{};
  now.mSampleTime = sampleTime_;
  now.mRateScalar = 1.0;
  now.mFlags = 1;  // sample time valid
  const AudioTimeStamp inputTime = now;
  AudioTimeStamp outputTime = now;
  outputTime.mSampleTime += static_cast<Float64>(frames);
  target_.proc(target_.device, &now, &input, &inputTime, &output, &outputTime, target_.clientData);
  sampleTime_ += static_cast<Float64>(frames);
}

}  // namespace talvorin::pulse
