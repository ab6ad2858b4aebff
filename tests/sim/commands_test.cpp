// The command set as the add-in drives it: identity, listing, purge, save, read back.
#include <gtest/gtest.h>

#include "sim_harness.h"

namespace simtest {
namespace {

struct IdentityCase {
  std::vector<std::string> args;
  std::string query;
  std::string reply;
};

TEST(SimCommands, IdentityAnswers) {
  const IdentityCase cases[] = {
      {{}, "*idn?", "QUORELL,7613B,SIM0001,1.0"},
      {{}, "*IDN?", "QUORELL,7613B,SIM0001,1.0"},
      {{"--model", "7612A"}, "*idn?", "QUORELL,7612A,SIM0001,1.0"},
      {{"--idn", "ACME,9000,1,2"}, "*idn?", "ACME,9000,1,2"},
      {{"--model", "7612A", "--idn", "X,Y"}, "*idn?", "X,Y"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SimProcess sim(args);
    Line line = Line::Tcp(sim.port());
    ASSERT_TRUE(line.ok());
    line.Send(c.query);
    EXPECT_EQ(line.ReadLine(), c.reply) << c.query;
  }
}

TEST(SimCommands, CaptureSequenceSavesListsReadsAndPurges) {
  SimProcess sim({"--port", "0"});
  Line line = Line::Tcp(sim.port());
  ASSERT_TRUE(line.ok());
  line.Send("*cls");
  line.Send("CAT?");
  auto first = line.ReadLine();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->find("SCREEN"), std::string::npos) << *first;

  line.Send("STODMEMO");
  line.Send("SAVDTIF 'SCREEN'");
  line.Send("*OPC?");
  EXPECT_EQ(line.ReadLine(), "1");
  line.Send("CAT?");
  auto second = line.ReadLine();
  ASSERT_TRUE(second);
  EXPECT_NE(second->find("\"SCREEN_T,"), std::string::npos) << *second;

  std::vector<std::size_t> sizes;
  Bytes file = ReadFile(line, "SCREEN_T", &sizes);
  ASSERT_GE(sizes.size(), 2u);
  for (std::size_t i = 0; i + 2 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 16384u);
  EXPECT_LT(sizes[sizes.size() - 2], 16384u);
  EXPECT_EQ(sizes.back(), 0u);
  EXPECT_NE(second->find("SCREEN_T," + std::to_string(file.size())), std::string::npos);
  TiffFacts tiff = InspectTiff(file);
  EXPECT_TRUE(tiff.opened && tiff.all_rows_read);
  EXPECT_EQ(tiff.width, 640u);
  EXPECT_EQ(tiff.height, 480u);

  // Six blocks are all the add-in reads: the default display must fit.
  EXPECT_LE(file.size(), 6 * 16384u);

  line.Send("PURG 'SCREEN_T'");
  line.Send("*OPC?");
  EXPECT_EQ(line.ReadLine(), "1");
  line.Send("CAT?");
  auto third = line.ReadLine();
  ASSERT_TRUE(third);
  EXPECT_EQ(third->find("SCREEN"), std::string::npos) << *third;
}

TEST(SimCommands, StorageIsTheInstrumentsNotTheConnections) {
  SimProcess sim({"--port", "0"});
  {
    Line a = Line::Tcp(sim.port());
    a.Send("SAVDTIF 'SCREEN'");
    a.Send("*OPC?");
    ASSERT_EQ(a.ReadLine(), "1");
  }
  Line b = Line::Tcp(sim.port());
  b.Send("CAT?");
  auto listing = b.ReadLine();
  ASSERT_TRUE(listing);
  EXPECT_NE(listing->find("SCREEN_T"), std::string::npos);
}

TEST(SimCommands, OddInputIsIgnoredAndLeavesTheLineWorking) {
  SimProcess sim({"--port", "0"});
  Line line = Line::Tcp(sim.port());
  line.Send("FOO?");               // unknown
  line.Send("cat?");               // device commands are upper case
  line.Send("");                   // empty line
  line.Send("PURG 'NOT_THERE'");   // purging nothing
  line.Send("ROPEN 'NOT_THERE'");  // opening nothing
  line.Send(std::string(100000, 'x'));
  line.Send("*idn?\r");  // CR LF ending
  EXPECT_EQ(line.ReadLine(), "QUORELL,7613B,SIM0001,1.0");
  // READ? with no file open gives an empty block rather than leaving the reader hanging.
  line.Send("READ?");
  auto block = line.ReadBlock();
  ASSERT_TRUE(block);
  EXPECT_TRUE(block->empty());
  EXPECT_TRUE(line.Quiet(100));
  EXPECT_TRUE(sim.WaitForLog("unknown command, ignored"));
}

TEST(SimCommands, ManyCommandsInOneWriteAreAllAnsweredInOrder) {
  SimProcess sim({"--port", "0"});
  Line line = Line::Tcp(sim.port());
  std::string burst;
  for (int i = 0; i < 20000; ++i) burst += i % 1000 == 999 ? "*idn?\n" : "*OPC?\n";
  burst.pop_back();
  line.Send(burst);
  for (int i = 0; i < 20000; ++i) {
    auto reply = line.ReadLine();
    ASSERT_TRUE(reply) << i;
    ASSERT_EQ(*reply, i % 1000 == 999 ? "QUORELL,7613B,SIM0001,1.0" : "1") << i;
  }
}

struct NameFormCase {
  std::string form;
  std::vector<std::string> present;
  std::vector<std::string> absent;
};

TEST(SimCommands, NameForms) {
  const NameFormCase cases[] = {
      {"", {"SCREEN_T"}, {"SCREEN.TIF", "screen"}},
      {"_T", {"SCREEN_T"}, {"SCREEN.TIF", "screen"}},
      {".TIF", {"SCREEN.TIF"}, {"SCREEN_T", "screen"}},
      {"both", {"SCREEN_T", "SCREEN.TIF"}, {"screen"}},
      {"lower", {"screen_t"}, {"SCREEN", "screen.tif"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--port", "0"};
    if (!c.form.empty()) args.insert(args.end(), {"--name-form", c.form});
    SimProcess sim(args);
    Line line = Line::Tcp(sim.port());
    line.Send("SAVDTIF 'SCREEN'");
    line.Send("CAT?");
    auto listing = line.ReadLine();
    ASSERT_TRUE(listing) << c.form;
    for (const auto& name : c.present) {
      EXPECT_NE(listing->find("\"" + name + ","), std::string::npos) << c.form << ": " << *listing;
      EXPECT_TRUE(InspectTiff(ReadFile(line, name)).all_rows_read) << c.form << " " << name;
    }
    for (const auto& name : c.absent) {
      EXPECT_EQ(listing->find(name), std::string::npos) << c.form << ": " << *listing;
    }
  }
}

TEST(SimCommands, SaveNothingStoresNoFile) {
  SimProcess sim({"--port", "0", "--save-nothing"});
  Line line = Line::Tcp(sim.port());
  line.Send("STODMEMO");
  line.Send("SAVDTIF 'SCREEN'");
  line.Send("*OPC?");
  EXPECT_EQ(line.ReadLine(), "1");
  line.Send("CAT?");
  auto listing = line.ReadLine();
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->find("SCREEN"), std::string::npos) << *listing;
  EXPECT_TRUE(ReadFile(line, "SCREEN").empty());
}

}  // namespace
}  // namespace simtest
