// The end-to-end tests trust this reader to tell a broken stream from a good one.
#include "frame_reader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace talvorin::testing {
namespace {

std::vector<std::uint8_t> frame(const std::vector<std::int16_t>& samples) {
  const auto length = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> bytes{
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  for (const std::int16_t sample : samples) {
    const auto bits = static_cast<std::uint16_t>(sample);
    bytes.push_back(static_cast<std::uint8_t>(bits));
    bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
  }
  return bytes;
}

TEST(FrameReader, ReassemblesFramesFromPiecesOfAnySize) {
  std::vector<std::uint8_t> stream = frame({32767, -32768, 0, 16383});
  const auto second = frame({-1, 258});
  stream.insert(stream.end(), second.begin(), second.end());

  for (std::size_t pieceSize : {1U, 3U, 5U, 64U}) {
    FrameReader reader;
    for (std::size_t offset = 0; offset < stream.size(); offset += pieceSize) {
      reader.feed(stream.data() + offset, std::min(pieceSize, stream.size() - offset));
    }
    EXPECT_FALSE(reader.broken()) << pieceSize;
    EXPECT_EQ(reader.samples(), (std::vector<std::int16_t>{32767, -32768, 0, 16383, -1, 258}))
        << pieceSize;
    EXPECT_EQ(reader.payloadSizes(), (std::vector<std::uint32_t>{8, 4})) << pieceSize;
    EXPECT_EQ(reader.pendingBytes(), 0U);
  }
}

TEST(FrameReader, KeepsAnUnfinishedFramePending) {
  const auto bytes = frame({1, 2, 3});
  FrameReader reader;
  reader.feed(bytes.data(), bytes.size() - 1);
  EXPECT_TRUE(reader.samples().empty());
  EXPECT_EQ(reader.pendingBytes(), bytes.size() - 1);
  EXPECT_FALSE(reader.broken());
}

TEST(FrameReader, ALengthNoFrameCanHaveBreaksTheStreamForGood) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> head;
  };
  const std::vector<Case> cases{
      {"zero", {0, 0, 0, 0}},
      {"odd", {3, 0, 0, 0, 1, 2, 3}},
      {"too large", {0, 0, 0, 0x40}},
  };
  for (const auto& badCase : cases) {
    FrameReader reader;
    std::vector<std::uint8_t> bytes = frame({7});
    bytes.insert(bytes.end(), badCase.head.begin(), badCase.head.end());
    const auto after = frame({9});
    bytes.insert(bytes.end(), after.begin(), after.end());
    reader.feed(bytes.data(), bytes.size());
    EXPECT_TRUE(reader.broken()) << badCase.name;
    EXPECT_EQ(reader.samples(), std::vector<std::int16_t>{7}) << badCase.name;
  }
}

}  // namespace
}  // namespace talvorin::testing
