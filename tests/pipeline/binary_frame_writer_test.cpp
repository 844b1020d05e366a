#include "pipeline/binary_frame_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/captured_output.hpp"

namespace talvorin {
namespace {

using testing::CapturedOutput;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(seed + i * 7);
  return payload;
}

struct Frame {
  std::vector<std::uint8_t> payload;
};

// Reads the stream back as a reader in step with it would: a length, then that many bytes.
// Fails the test on a short length or payload.
std::vector<Frame> readFrames(const std::vector<std::uint8_t>& stream) {
  std::vector<Frame> frames;
  std::size_t offset = 0;
  while (offset < stream.size()) {
    if (stream.size() - offset < 4) {
      ADD_FAILURE() << "stream ends inside a length at " << offset;
      break;
    }
    const std::uint32_t length = stream[offset] | (stream[offset + 1] << 8) |
                                 (stream[offset + 2] << 16) |
                                 (static_cast<std::uint32_t>(stream[offset + 3]) << 24);
    offset += 4;
    if (stream.size() - offset < length) {
      ADD_FAILURE() << "stream ends inside a payload at " << offset;
      break;
    }
    frames.push_back(Frame{{stream.begin() + static_cast<std::ptrdiff_t>(offset),
                            stream.begin() + static_cast<std::ptrdiff_t>(offset + length)}});
    offset += length;
  }
  return frames;
}

std::vector<std::uint8_t> contentsOf(const CapturedOutput& out) {
  return bytesOf(out.contents());
}

TEST(BinaryFrameWriter, WritesALittleEndianLengthThenThePayload) {
  CapturedOutput out;
  BinaryFrameWriter writer(out.fd());
  const std::vector<std::uint8_t> payload = pattern(342, 3);
  writer.writeFrame(payload);
  std::vector<std::uint8_t> expected = {0x56, 0x01, 0x00, 0x00};
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(contentsOf(out), expected);
}

TEST(BinaryFrameWriter, FramesFollowBackToBackAndAnEmptyPayloadWritesNothing) {
  CapturedOutput out;
  BinaryFrameWriter writer(out.fd());
  writer.writeFrame({});
  EXPECT_EQ(out.contents(), "");
  writer.writeFrame({0x01, 0x02});
  writer.writeFrame({});
  writer.writeFrame(pattern(70000, 9));
  const std::vector<Frame> frames = readFrames(contentsOf(out));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].payload, (std::vector<std::uint8_t>{0x01, 0x02}));
  EXPECT_EQ(frames[1].payload, pattern(70000, 9));
}

TEST(BinaryFrameWriter, RefusesPayloadsItCannotFrame) {
  struct Case {
    std::size_t bytes;
    bool framable;
  };
  const std::vector<Case> cases = {
      {0, false}, {1, true}, {342, true}, {0xFFFFFFFFull, true}, {0x100000000ull, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BinaryFrameWriter::framable(c.bytes), c.framable) << c.bytes;
  }
}

// Several threads write at once; each frame stays whole and each thread's frames keep their
// order.
TEST(BinaryFrameWriter, FramesFromSeveralThreadsStayWhole) {
  constexpr int threads = 4;
  constexpr int framesPerThread = 100;
  CapturedOutput out;
  BinaryFrameWriter writer(out.fd());
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&writer, t] {
      for (int i = 0; i < framesPerThread; ++i) {
        // The first two bytes name the thread and the frame; the size varies.
        std::vector<std::uint8_t> payload = pattern(2 + 97 * static_cast<std::size_t>(i % 13), 0);
        payload[0] = static_cast<std::uint8_t>(t);
        payload[1] = static_cast<std::uint8_t>(i);
        writer.writeFrame(payload);
      }
    });
  }
  for (auto& thread : writers) thread.join();

  const std::vector<Frame> frames = readFrames(contentsOf(out));
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(threads * framesPerThread));
  std::vector<int> next(threads, 0);
  for (const Frame& frame : frames) {
    const int t = frame.payload[0];
    const int i = frame.payload[1];
    ASSERT_LT(t, threads);
    EXPECT_EQ(i, next[t]++) << "thread " << t;
    std::vector<std::uint8_t> expected = pattern(2 + 97 * static_cast<std::size_t>(i % 13), 0);
    expected[0] = frame.payload[0];
    expected[1] = frame.payload[1];
    EXPECT_EQ(frame.payload, expected);
  }
}

class BinaryFrameWriterOnPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    // A closed pipe must show up as EPIPE, not end the test binary.
    previous_ = std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(::pipe(fds_), 0);
  }
  void TearDown() override {
    for (const int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
    std::signal(SIGPIPE, previous_);
  }
  void closeEnd(int& fd) {
    ::close(fd);
    fd = -1;
  }

  int fds_[2] = {-1, -1};  // read end, write end
  void (*previous_)(int) = SIG_DFL;
};

TEST_F(BinaryFrameWriterOnPipe, AFailedWriteStopsTheWriterForGood) {
  int failures = 0;
  BinaryFrameWriter writer(fds_[1], [&failures] { ++failures; });
  closeEnd(fds_[0]);
  writer.writeFrame(pattern(342, 1));
  EXPECT_TRUE(writer.broken());
  EXPECT_EQ(failures, 1);

  // Point the writer's descriptor at a file: any later byte would land there.
  CapturedOutput out;
  ASSERT_GE(::dup2(out.fd(), fds_[1]), 0);
  writer.writeFrame(pattern(342, 2));
  writer.writeFrame(pattern(2, 3));
  EXPECT_EQ(out.contents(), "");
  EXPECT_EQ(failures, 1);
}

TEST_F(BinaryFrameWriterOnPipe, AReaderThatLeavesMidFrameGetsNothingMore) {
  constexpr std::size_t frameBytes = 300000;  // several times a pipe's buffer
  std::atomic<int> failures = 0;
  BinaryFrameWriter writer(fds_[1], [&failures] { ++failures; });
  // The reader takes the first frame and part of the second, then leaves.
  std::thread reader([this] {
    std::size_t remaining = 4 + frameBytes + 1000;
    std::vector<char> chunk(4096);
    while (remaining > 0) {
      const ssize_t got = ::read(fds_[0], chunk.data(), std::min(chunk.size(), remaining));
      if (got <= 0) break;
      remaining -= static_cast<std::size_t>(got);
    }
    closeEnd(fds_[0]);
  });
  for (int i = 0; i < 4; ++i) writer.writeFrame(pattern(frameBytes, static_cast<std::uint8_t>(i)));
  reader.join();
  EXPECT_TRUE(writer.broken());
  EXPECT_EQ(failures.load(), 1);
}

TEST_F(BinaryFrameWriterOnPipe, CompletesPartialWritesToASlowNonBlockingReader) {
  // A non-blocking descriptor takes what fits in the pipe and reports the rest as a short
  // write, so every large frame goes out in pieces.
  ASSERT_EQ(::fcntl(fds_[1], F_SETFL, ::fcntl(fds_[1], F_GETFL) | O_NONBLOCK), 0);
  std::vector<std::uint8_t> received;
  std::thread reader([this, &received] {
    std::vector<std::uint8_t> chunk(1000);
    for (;;) {
      const ssize_t got = ::read(fds_[0], chunk.data(), chunk.size());
      if (got <= 0) break;
      received.insert(received.end(), chunk.begin(), chunk.begin() + got);
    }
  });
  int failures = 0;
  {
    BinaryFrameWriter writer(fds_[1], [&failures] { ++failures; });
    for (int i = 0; i < 3; ++i) {
      writer.writeFrame(
          pattern(200000 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i)));
    }
    EXPECT_FALSE(writer.broken());
  }
  closeEnd(fds_[1]);
  reader.join();
  EXPECT_EQ(failures, 0);
  const std::vector<Frame> frames = readFrames(received);
  ASSERT_EQ(frames.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(frames[static_cast<std::size_t>(i)].payload,
              pattern(200000 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i)));
  }
}

}  // namespace
}  // namespace talvorin
