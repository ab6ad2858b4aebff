// The `reg` program end to end, on a private registry.
#include "registry_fixture.h"
#include "support/run.h"

namespace {

using Outcome = testsupport::RunResult;  // `out` holds standard output and error together

Outcome Reg(const std::vector<std::string>& args) {
  return testsupport::Run(SCRIVO_BIN_DIR "/reg", args, {.merge_errors = true});
}

using RegTool = RegistryTest;

TEST_F(RegTool, SetGetListAndDelete) {
  const std::string key = "HKEY_CURRENT_USER\\Software\\X";
  EXPECT_EQ(Reg({"set", key, "Name", "some \"text\""}).status, 0);
  EXPECT_EQ(Reg({"set", "--dword", "HKCU\\Software\\X", "Count", "42"}).status, 0);
  EXPECT_EQ(Reg({"set", "hkcu\\software\\x", "Mask", "0xFFFFFFFF", "--dword"}).status, 0);
  EXPECT_EQ(Reg({"set", key, "@", "the default"}).status, 0);
  EXPECT_EQ(Reg({"set", key + "\\Sub", "", "C:\\dir"}).status, 0);
  EXPECT_EQ(Reg({"create", "HKCU\\Software\\X\\Sub\\Empty"}).status, 0);

  Outcome get = Reg({"get", key, "name"});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "some \"text\"\n");
  EXPECT_EQ(Reg({"get", key, "COUNT"}).out, "42\n");
  EXPECT_EQ(Reg({"get", key}).out, "the default\n");
  EXPECT_EQ(Reg({"get", key, "@"}).out, "the default\n");

  Outcome list = Reg({"list", "HKCU\\Software"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out,
            "HKEY_CURRENT_USER\\Software\n"
            "  X\n"
            "    @ = \"the default\"\n"
            "    Count = dword:42\n"
            "    Mask = dword:4294967295\n"
            "    Name = \"some \\\"text\\\"\"\n"
            "    Sub\n"
            "      @ = \"C:\\\\dir\"\n"
            "      Empty\n");

  // What reg wrote, the API reads, and the other way round.
  std::string text;
  EXPECT_EQ(com::registry::GetText("HKCU\\Software\\X\\Sub", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "C:\\dir");
  ASSERT_EQ(com::registry::SetText("HKCR\\FromApi", "V", "api"), ERROR_SUCCESS);
  EXPECT_EQ(Reg({"get", "HKCR\\FromApi", "V"}).out, "api\n");

  EXPECT_EQ(Reg({"delete", key, "Name"}).status, 0);
  Outcome missing = Reg({"get", key, "Name"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("value 'Name' of HKEY_CURRENT_USER\\Software\\X does not exist"),
            std::string::npos)
      << missing.out;
  EXPECT_NE(missing.out.find(file_), std::string::npos);
  EXPECT_EQ(Reg({"delete", key}).status, 0);
  EXPECT_FALSE(com::registry::KeyExists(key));
  EXPECT_TRUE(com::registry::KeyExists("HKCU\\Software"));
  EXPECT_EQ(Reg({"delete", key}).status, 1);
  EXPECT_EQ(Reg({"list", key}).status, 1);
}

TEST_F(RegTool, BadArgumentsGiveOneLineAndStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate", "HKCU\\X"},
      {"set", "HKCU\\X", "Name"},
      {"get"},
      {"get", "HKCU\\X", "a", "b"},
      {"list", "HKLM\\Software"},
      {"set", "--dword", "HKCU\\X", "N", "12abc"},
      {"set", "--dword", "HKCU\\X", "N", "4294967296"},
      {"get", "--dword", "HKCU\\X"},
      {"list", "--bogus", "HKCU"},
  };
  for (const auto& args : cases) {
    Outcome run = Reg(args);
    std::string shown;
    for (const auto& arg : args) shown += arg + " ";
    EXPECT_EQ(run.status, 2) << shown << run.out;
    EXPECT_EQ(run.out.rfind("reg: ", 0), 0u) << shown << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << shown << run.out;
  }
  EXPECT_FALSE(std::filesystem::exists(file_));  // none of them touched the registry

  Outcome help = Reg({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: reg"), std::string::npos);
  EXPECT_NE(help.out.find("COMRT_REGISTRY"), std::string::npos);
}

TEST_F(RegTool, RegistryFailuresAreReported) {
  std::filesystem::create_directory(dir_ + "/folder");
  setenv("COMRT_REGISTRY", (dir_ + "/folder").c_str(), 1);
  Outcome run = Reg({"set", "HKCU\\X", "N", "v"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "reg: registry " + dir_ + "/folder: cannot open: it is a folder\n");
}

}  // namespace
