// Module resources: found by type and id in the module that carries them, and the
// resource compiler's handling of bad scripts.
#include "com/module.h"

#include <dlfcn.h>

#include <fstream>

#include "com/resource.h"
#include "support/run.h"
#include "typelib_fixture.h"

namespace {

int RunRescomp(const std::string& script, const std::string& outDir, std::string* output) {
  auto r = testsupport::Run(std::string(SCRIVO_BIN_DIR "/rescomp ") + script + " -o " + outDir +
                            "/out.cpp");
  *output = r.out;
  return r.status;
}

}  // namespace

TEST_F(TypelibTest, ServerFindsItsOwnModuleAndResources) {
  void* h = dlopen(kServerPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  void* entry = dlsym(h, "DllCanUnloadNow");
  EXPECT_EQ(com::ModuleFromAddress(entry), h);
  char* real = realpath(kServerPath.c_str(), nullptr);
  EXPECT_EQ(com::ModuleFileName(h), real);
  free(real);

  auto tlb = com::FindResource(h, "TYPELIB", 1);
  ASSERT_TRUE(tlb);
  ASSERT_GE(tlb->size(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(tlb->data()), 4), "CTLB");
  EXPECT_FALSE(com::FindResource(h, "TYPELIB", 2));
  EXPECT_FALSE(com::FindResource(h, "REGISTRY", 1));
  EXPECT_EQ(com::LoadStringResource(h, 100), u"Widget");
  EXPECT_EQ(com::LoadStringResource(h, 101), u"Grüße, \"quoted\"");
  EXPECT_FALSE(com::LoadStringResource(h, 102));
  WCHAR small[4];
  EXPECT_EQ(LoadStringW(h, 100, small, 4), 3);
  EXPECT_EQ(std::u16string(small), u"Wid");

  auto v = com::ReadVersionInfo(h);
  ASSERT_TRUE(v);
  EXPECT_EQ(std::vector<WORD>(v->fileVersion, v->fileVersion + 4), (std::vector<WORD>{1, 0, 0, 1}));
  EXPECT_EQ(std::vector<WORD>(v->productVersion, v->productVersion + 4),
            (std::vector<WORD>{1, 2, 0, 7}));
  EXPECT_EQ(v->fileType, VFT_DLL);
  EXPECT_EQ(v->fileOS, VOS_NT_WINDOWS32);
  EXPECT_EQ(v->language, 0x0409);
  EXPECT_EQ(v->codePage, 1200);
  EXPECT_EQ(v->FileDescription, u"Widget Module");
  EXPECT_EQ(v->Comments, u"A test server");
  EXPECT_EQ(v->InternalName, u"Widget");
  EXPECT_EQ(v->OriginalFilename, u"Widget.DLL");
  EXPECT_EQ(v->ProductName, u"Widget Product");
  EXPECT_EQ(v->CompanyName, u"");
  EXPECT_TRUE(v->OLESelfRegister);
  EXPECT_EQ(v->strings.size(), 7u);
  dlclose(h);
}

TEST_F(TypelibTest, ModulesWithoutResourcesHaveNone) {
  // The program and the runtime carry none, and a loaded server's resources are not theirs.
  void* h = dlopen(kServerPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr);
  HMODULE program = com::ModuleFromAddress(reinterpret_cast<const void*>(&RunRescomp));
  ASSERT_NE(program, nullptr);
  EXPECT_FALSE(com::FindResource(program, "TYPELIB", 1));
  HMODULE runtime = com::ModuleFromAddress(reinterpret_cast<const void*>(&com::FindResource));
  ASSERT_NE(runtime, nullptr);
  EXPECT_NE(runtime, program);
  EXPECT_FALSE(com::FindResource(runtime, "TYPELIB", 1));
  EXPECT_FALSE(com::ReadVersionInfo(runtime));
  EXPECT_FALSE(com::FindResource(nullptr, "TYPELIB", 1));
  EXPECT_EQ(com::ModuleFromAddress(nullptr), nullptr);
  dlclose(h);
}

TEST_F(TypelibTest, ResourceCompilerRejectsBadScripts) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"TYPELIB 1 \"missing.tlb\"\n", "2: cannot find missing.tlb"},
      {"STRING 1 \"a\"\nSTRING 1 \"b\"\n", "STRING 1 is given twice"},
      {"VERSIONINFO { FILEVERSION 1,0,0 }\n", "four numbers"},
      {"VERSIONINFO { \"Comments\" }\n", "needs a quoted value"},
      {"STRING 70000 \"a\"\n", "bad number '70000'"},
      {"STRING 1 \"open\n", "unterminated string"},
  };
  for (const auto& c : cases) {
    std::string path = dir_ + "/bad.rc";
    std::ofstream(path) << "// a script\n" << c.script;
    std::string output;
    EXPECT_EQ(RunRescomp(path, dir_, &output), 1) << c.script;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
}
