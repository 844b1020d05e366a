#pragma once

#include <vector>

#include "platform/core_audio_types.hpp"

namespace talvorin {

// Decodes one IO cycle's buffers to one channel of samples at the device's own rate, the
// mean of each frame's channels. Linear PCM only: 32- or 64-bit float, 16- or 32-bit signed
// integer, interleaved or one buffer per channel, in the host's byte order.
//
// Throws HelperError "Unsupported PCM sample representation." for data that is neither float
// nor signed integer, and "Unsupported PCM bit depth: N." for any other sample size.
//
// A format that does not describe its buffers never leads to a read outside a buffer's
// mDataByteSize: an interleaved frame must fit whole in the first buffer, and a channel
// whose own buffer ends before a frame counts as absent from that frame. The work of one call
// is bounded by the bytes it was given: when one buffer per channel is declared but a few
// buffers stand in for more channels than their bytes could hold, or when buffers without
// data claim a size, a call that would take more sample reads (or silent frames) than the
// buffers hold bytes, beyond a floor that covers any real IO cycle, is refused and returns
// no samples.
//
// Runs on the IO thread: one allocation (the result), no lock.
std::vector<float> readMonoFloatSamples(const AudioBufferList& bufferList,
                                        const AudioStreamBasicDescription& streamDescription);

}  // namespace talvorin
