#include "server/registrar.h"

#include <gtest/gtest.h>

#include <optional>

#include "com/registry.h"
#include "registry_dump.h"
#include "support/private_registry.h"

using com::server::RunRegistryScript;
using com::server::Substitutions;
using testing_registry::Dump;
namespace reg = com::registry;

namespace {

const std::string kRoot = "HKCU\\Software\\RegistrarTest";

class RegistrarTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registry_.emplace(); }
  static void TearDownTestSuite() { registry_.reset(); }
  static inline std::optional<testsupport::PrivateRegistry> registry_;
  void SetUp() override { reg::DeleteTree(kRoot); }

  static HRESULT Run(const std::string& script, bool doRegister, const Substitutions& subs = {}) {
    auto r = RunRegistryScript(script, doRegister, subs);
    EXPECT_EQ(r.hr == S_OK, r.message.empty()) << r.message;
    return r.hr;
  }
};

const char kServerScript[] = R"(HKCU
{
  NoRemove Software
  {
    NoRemove RegistrarTest
    {
      Demo.Thing.1 = s 'Thing Class'
      {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
      }
      NoRemove CLSID
      {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
        {
          ProgID = s 'Demo.Thing.1'
          ForceRemove 'Programmable'
          InprocServer32 = s '%MODULE%'
          {
            val ThreadingModel = s 'Apartment'
          }
          'It''s quoted' = s 'a ''b'' c'
          Numbers { val Five = d 5  val Hex = d '0x10'  val Minus = d -1 }
        }
      }
    }
  }
}
)";

TEST_F(RegistrarTest, RegistersKeysValuesAndSubstitutions) {
  ASSERT_EQ(Run(kServerScript, true, {{"MODULE", "/opt/it's {x}/libthing.so"}}), S_OK);
  const std::string c = kRoot + "\\CLSID\\{11111111-2222-3333-4444-555555555555}";
  std::vector<std::string> expected = {
      kRoot,
      kRoot + "\\CLSID",
      c,
      c + "|=s:Thing Class",
      c + "\\InprocServer32",
      c + "\\InprocServer32|=s:/opt/it's {x}/libthing.so",
      c + "\\InprocServer32|ThreadingModel=s:Apartment",
      c + "\\It's quoted",
      c + "\\It's quoted|=s:a 'b' c",
      c + "\\Numbers",
      c + "\\Numbers|Five=d:5",
      c + "\\Numbers|Hex=d:16",
      c + "\\Numbers|Minus=d:4294967295",
      c + "\\ProgID",
      c + "\\ProgID|=s:Demo.Thing.1",
      c + "\\Programmable",
      kRoot + "\\Demo.Thing.1",
      kRoot + "\\Demo.Thing.1\\CLSID",
      kRoot + "\\Demo.Thing.1\\CLSID|=s:{11111111-2222-3333-4444-555555555555}",
      kRoot + "\\Demo.Thing.1|=s:Thing Class",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Dump(kRoot), expected);
}

TEST_F(RegistrarTest, ForceRemoveReplacesTheTreeWhileOtherKeysKeepForeignContent) {
  const std::string c = kRoot + "\\CLSID\\{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(reg::SetText(c + "\\Stale", "", "old"), ERROR_SUCCESS);
  ASSERT_EQ(reg::SetText(kRoot + "\\Demo.Thing.1\\Foreign", "", "kept"), ERROR_SUCCESS);
  ASSERT_EQ(Run(kServerScript, true, {{"MODULE", "/m.so"}}), S_OK);
  EXPECT_FALSE(reg::KeyExists(c + "\\Stale"));
  EXPECT_TRUE(reg::KeyExists(kRoot + "\\Demo.Thing.1\\Foreign"));
}

TEST_F(RegistrarTest, UnregistrationRemovesWhatTheScriptCreatesButNoRemoveKeys) {
  ASSERT_EQ(reg::SetText(kRoot + "\\CLSID\\{99999999-0000-0000-0000-000000000000}", "", "other"),
            ERROR_SUCCESS);
  ASSERT_EQ(Run(kServerScript, true, {{"MODULE", "/m.so"}}), S_OK);
  // Something added below a ForceRemove key later goes with it.
  const std::string c = kRoot + "\\CLSID\\{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(reg::SetText(c + "\\Added\\Deeper", "", "x"), ERROR_SUCCESS);
  ASSERT_EQ(Run(kServerScript, false, {{"MODULE", "/m.so"}}), S_OK);
  EXPECT_EQ(Dump(kRoot),
            (std::vector<std::string>{
                kRoot, kRoot + "\\CLSID", kRoot + "\\CLSID\\{99999999-0000-0000-0000-000000000000}",
                kRoot + "\\CLSID\\{99999999-0000-0000-0000-000000000000}|=s:other"}));
  // Unregistering again finds nothing to do.
  EXPECT_EQ(Run(kServerScript, false, {{"MODULE", "/m.so"}}), S_OK);
}

TEST_F(RegistrarTest, UnregistrationKeepsAKeyOthersStillUseAndDropsTheScriptsValues) {
  const char script[] =
      "HKCU { NoRemove Software { NoRemove RegistrarTest { Shared { val Mine = s 'm' Sub } } } }";
  ASSERT_EQ(Run(script, true), S_OK);
  ASSERT_EQ(reg::SetText(kRoot + "\\Shared\\Theirs", "", "t"), ERROR_SUCCESS);
  ASSERT_EQ(Run(script, false), S_OK);
  EXPECT_EQ(Dump(kRoot),
            (std::vector<std::string>{kRoot, kRoot + "\\Shared", kRoot + "\\Shared\\Theirs",
                                      kRoot + "\\Shared\\Theirs|=s:t"}));
}

TEST_F(RegistrarTest, DeleteRemovesAKeyAtRegistrationOnly) {
  ASSERT_EQ(reg::SetText(kRoot + "\\Old\\Below", "", "x"), ERROR_SUCCESS);
  const char script[] =
      "HKCU { NoRemove Software { NoRemove RegistrarTest { Delete Old { Ignored } New } } }";
  ASSERT_EQ(Run(script, true), S_OK);
  EXPECT_EQ(Dump(kRoot), (std::vector<std::string>{kRoot, kRoot + "\\New"}));
  ASSERT_EQ(reg::SetText(kRoot + "\\Old", "", "back"), ERROR_SUCCESS);
  ASSERT_EQ(Run(script, false), S_OK);
  EXPECT_EQ(Dump(kRoot),
            (std::vector<std::string>{kRoot, kRoot + "\\Old", kRoot + "\\Old|=s:back"}));
}

TEST_F(RegistrarTest, BracesMayTouchAndRootsMaySpellOut) {
  ASSERT_EQ(Run("HKEY_CURRENT_USER{Software{RegistrarTest{A=s 'x'{B}}}}", true), S_OK);
  EXPECT_TRUE(reg::KeyExists(kRoot + "\\A\\B"));
}

struct Malformed {
  const char* script;
  int line;
  const char* says;
};

TEST_F(RegistrarTest, MalformedScriptsAreRejectedWithTheirLineAndWriteNothing) {
  const Malformed cases[] = {
      {"HKCU\n{\n  Software\n  {\n    RegistrarTest = s 'x'\n", 5, "missing '}'"},
      {"HKCU\n{\n  Software = s\n}\n", 4, "expected a text"},
      {"HKLM\n{\n}\n", 1, "unknown root"},
      {"HKCU\n{\n  Software\n  {\n    RegistrarTest = q 'x'\n  }\n}\n", 5,
       "unsupported value type"},
      {"HKCU { Software {\n RegistrarTest { val = s 'x' } } }", 2, "expected a value name"},
      {"HKCU { Software {\n RegistrarTest { val X s 'x' } } }", 2, "expected '='"},
      {"HKCU { Software {\n\n RegistrarTest { val N = d 'ten' } } }", 3, "not a 32-bit number"},
      {"HKCU { Software {\n RegistrarTest { val N = d 4294967296 } } }", 2, "not a 32-bit number"},
      {"HKCU { Software { RegistrarTest = s 'never\nclosed } } }", 1, "unterminated"},
      {"HKCU { Software {\n RegistrarTest = s '%NOPE%' } }", 2, "unknown substitution %NOPE%"},
      {"HKCU { Software {\n RegistrarTest = s '50% off' } }", 2, "unmatched '%'"},
      {"HKCU { NoRemove ForceRemove Software }", 1, "only one"},
      {"HKCU { val X = s 'y' }", 1, "no named values"},
      {"HKCU\n{\n  Software\n  {\n    RegistrarTest\n  }\n}\n}\n", 8, "root key"},
      {"HKCU { Software {\n { } } }", 2, "key name"},
      {"HKCU { Software {\n RegistrarTest = s 'a' = s 'b' } }", 2, "key name"},
      {"HKCU { Software { '' } }", 1, "empty"},
  };
  ASSERT_EQ(reg::SetText(kRoot, "Before", "b"), ERROR_SUCCESS);
  const auto before = Dump(kRoot);
  for (const auto& c : cases) {
    for (bool doRegister : {true, false}) {
      auto r = RunRegistryScript(c.script, doRegister, {{"MODULE", "/m.so"}});
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << c.script;
      EXPECT_EQ(r.line, c.line) << c.script;
      EXPECT_NE(r.message.find("line " + std::to_string(c.line) + ": "), std::string::npos)
          << r.message;
      EXPECT_NE(r.message.find(c.says), std::string::npos) << r.message;
    }
  }
  EXPECT_EQ(Dump(kRoot), before);
}

TEST_F(RegistrarTest, SubstitutedTextCannotChangeTheScriptsShape) {
  ASSERT_EQ(Run("HKCU { Software { RegistrarTest { K = s '%V%' } } }", true,
                {{"V", "x' } Injected { y = s '"}}),
            S_OK);
  EXPECT_EQ(Dump(kRoot), (std::vector<std::string>{kRoot, kRoot + "\\K",
                                                   kRoot + "\\K|=s:x' } Injected { y = s '"}));
}

TEST_F(RegistrarTest, AFailureInTheMiddleLeavesTheRegistryAsItWas) {
  ASSERT_EQ(reg::SetText(kRoot + "\\Existing\\Below", "", "keep"), ERROR_SUCCESS);
  const auto before = Dump(kRoot);
  // A key name longer than the registry allows fails after keys were written and deleted.
  const std::string script =
      "HKCU { NoRemove Software { NoRemove RegistrarTest {\n"
      "  First = s 'written'\n"
      "  ForceRemove Existing = s 'replaced'\n"
      "  '" +
      std::string(300, 'n') +
      "'\n"
      "  Last\n} } }";
  auto r = RunRegistryScript(script, true, {});
  EXPECT_TRUE(FAILED(r.hr));
  EXPECT_NE(r.hr, DISP_E_EXCEPTION);
  EXPECT_FALSE(r.message.empty());
  EXPECT_EQ(Dump(kRoot), before);
}

}  // namespace
