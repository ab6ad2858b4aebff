// comcall against the test server registered in a private registry.
#include "support/run.h"
#include "typelib_fixture.h"

using ToolRun = testsupport::RunResult;

class ComcallTest : public TypelibTest {
 protected:
  void SetUp() override {
    TypelibTest::SetUp();
    RegisterServer();
  }
  ToolRun Comcall(const std::vector<std::string>& args) {
    return testsupport::Run(SCRIVO_BIN_DIR "/comcall", args);
  }
};

TEST_F(ComcallTest, MakesEachCallOnOneObject) {
  ToolRun r = Comcall({"TypelibTest.Widget",
                       "Count=5",
                       "Count",
                       "Shown",
                       "Shown=True",
                       "Shown",
                       "Key=hello world",
                       "Name",
                       "Join(\"a, b\", c)",
                       "Name",
                       "Add(1, 2, 0.5)",
                       "Execute(1, 0)",
                       "Execute(0, 0)",
                       "Picture",
                       "Run",
                       "Count",
                       "Tail(x)",
                       "Tail(x, \"say \"\"hi\"\"\")",
                       "Data",
                       "Data=7",
                       "Data"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "5\nFalse\nTrue\nhello world\n\na, bc\n3.5\nMS Sans Serif\n\nNothing\n\n6\nx|missing\n"
            "x|say \"hi\"\n\n7\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ComcallTest, CreatesByClassIdentity) {
  ToolRun r = Comcall({"{DEECDCA7-CA59-4A14-AA9E-BF6351C90987}", "Name", "Byte(200, -5)"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Widget\n199995\n");
}

TEST_F(ComcallTest, FailuresPrintCodeAndDescription) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
    const char* out;
  };
  const Case cases[] = {
      {{"TypelibTest.Widget", "Count", "Fail(-2147024891, \"The widget is locked\")", "Count"},
       "comcall: Fail: 0x80070005: The widget is locked\n",
       "0\n"},
      {{"TypelibTest.Widget", "Nonesuch"}, "comcall: Nonesuch: 0x80020006: ", ""},
      {{"TypelibTest.Widget", "Add(1, two, 3)"}, "comcall: Add (argument 2): 0x80020005: ", ""},
      {{"TypelibTest.Widget", "Join(a)"}, "comcall: Join: 0x8002000E: ", ""},
      {{"TypelibTest.Widget", "Name=x"}, "comcall: Name: 0x80020003: ", ""},
      {{"No.Such.Thing", "Name"}, "comcall: cannot create No.Such.Thing: 0x800401F3: ", ""},
      {{"TypelibTest.Widget", "Join(\"open)"}, "comcall: ", ""},
  };
  for (const auto& c : cases) {
    ToolRun r = Comcall(c.args);
    EXPECT_NE(r.status, 0) << c.args[1];
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
}

TEST_F(ComcallTest, HelpAndUsage) {
  ToolRun help = Comcall({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: comcall PROGID|{CLSID} CALL..."), std::string::npos);
  ToolRun none = Comcall({});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("usage:"), std::string::npos);
}
