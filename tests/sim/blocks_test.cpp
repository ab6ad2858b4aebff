// READ? blocks: exact byte counts for given file and block sizes, any byte value.
#include <gtest/gtest.h>

#include "sim_harness.h"

namespace simtest {
namespace {

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return b;
}

struct BlockCase {
  std::size_t file_size;
  std::string block_size;  // empty: the default
  std::vector<std::size_t> blocks;
};

TEST(SimBlocks, BlockSizesForPreloadedFiles) {
  const BlockCase cases[] = {
      {40000, "", {16384, 16384, 7232, 0}},
      {16384, "", {16384, 0}},
      {16383, "", {16383, 0}},
      {0, "", {0}},
      {3000, "1000", {1000, 1000, 1000, 0}},
      {40000, "16384,17001", {16384, 17001, 6615, 0}},
      {50000, "16384,17000,1", {16384, 17000, 1, 1}},  // the last size repeats
      {5, "999999999", {5, 0}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Bytes content = Pattern(c.file_size);
    std::vector<std::string> args{"--port", "0", "--preload",
                                  "DATA_T=" + dir.Write("data.bin", content)};
    if (!c.block_size.empty()) args.insert(args.end(), {"--block-size", c.block_size});
    SimProcess sim(args);
    Line line = Line::Tcp(sim.port());
    std::string label = std::to_string(c.file_size) + " / " + c.block_size;

    line.Send("ROPEN 'DATA_T'");
    Bytes got;
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < c.blocks.size(); ++i) {
      line.Send("READ?");
      auto block = line.ReadBlock();
      ASSERT_TRUE(block) << label;
      sizes.push_back(block->size());
      got.insert(got.end(), block->begin(), block->end());
    }
    EXPECT_EQ(sizes, c.blocks) << label;
    if (c.blocks.back() == 0)
      EXPECT_EQ(got, content) << label;
    else
      EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin())) << label;
  }
}

TEST(SimBlocks, EveryByteValueAndHeaderFormOnTheWire) {
  TempDir dir;
  Bytes content(512);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
  SimProcess sim({"--port", "0", "--preload", "ALL=" + dir.Write("all.bin", content)});
  Line line = Line::Tcp(sim.port());
  line.Send("ROPEN 'ALL'");
  line.Send("READ?");
  line.Send("READ?");
  line.Send("READ?");
  line.Send("*idn?");
  std::string expected = "#3512" + std::string(content.begin(), content.end()) + "\n" +
                         "#10\n#10\nQUORELL,7613B,SIM0001,1.0\n";
  auto wire = line.ReadExactly(expected.size());
  ASSERT_TRUE(wire);
  EXPECT_TRUE(line.Quiet(50));
  EXPECT_EQ(*wire, expected);
}

TEST(SimBlocks, IndefiniteAndFalselyClaimedBlocks) {
  TempDir dir;
  std::string path = dir.Write("f.bin", Bytes{'a', '\n', 'b'});
  struct Case {
    std::string option, value, wire;
  } const cases[] = {
      {"--indefinite-blocks", "", "#0a\nb\n#0\n"},
      {"--claim-length", "999999999", "#9999999999a\nb\n#9999999999\n"},
      {"--claim-length", "0", "#10a\nb\n#10\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--port", "0", "--preload", "F=" + path, c.option};
    if (!c.value.empty()) args.push_back(c.value);
    SimProcess sim(args);
    Line line = Line::Tcp(sim.port());
    line.Send("ROPEN 'F'");
    line.Send("READ?");
    line.Send("READ?");
    EXPECT_EQ(line.ReadExactly(c.wire.size()), c.wire) << c.option;
    EXPECT_TRUE(line.Quiet(50)) << c.option;
  }
}

TEST(SimBlocks, ReopenStartsAgainAndCloseEndsTheFile) {
  TempDir dir;
  Bytes content = Pattern(20000);
  SimProcess sim({"--port", "0", "--preload", "F=" + dir.Write("f.bin", content)});
  Line line = Line::Tcp(sim.port());
  line.Send("ROPEN 'F'");
  line.Send("READ?");
  ASSERT_EQ(line.ReadBlock()->size(), 16384u);
  line.Send("ROPEN 'F'");
  EXPECT_EQ(ReadFile(line, "F"), content);
  line.Send("READ?");  // after CLOSE
  EXPECT_TRUE(line.ReadBlock()->empty());
  // Purging a file while it is open does not disturb the reader.
  line.Send("ROPEN 'F'");
  line.Send("PURG 'F'");
  line.Send("READ?");
  EXPECT_EQ(line.ReadBlock()->size(), 16384u);
}

TEST(SimBlocks, FileSizeMakesTheSavedFileExactlyThatLong) {
  for (std::size_t size : {120000u, 100u, 0u}) {
    SimProcess sim({"--port", "0", "--file-size", std::to_string(size)});
    Line line = Line::Tcp(sim.port());
    line.Send("SAVDTIF 'SCREEN'");
    std::vector<std::size_t> blocks;
    Bytes file = ReadFile(line, "SCREEN_T", &blocks);
    EXPECT_EQ(file.size(), size);
    if (size == 120000) {
      EXPECT_EQ(blocks, (std::vector<std::size_t>{16384, 16384, 16384, 16384, 16384, 16384, 16384,
                                                  5312, 0}));
      EXPECT_TRUE(InspectTiff(file).all_rows_read);  // filler after the image is harmless
    }
  }
}

}  // namespace
}  // namespace simtest
