// The interface-definition compiler's model: what it reads from a definition, and the
// binary form the runtime loads.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "com/typelib_model.h"
#include "idl_parser.h"

using namespace com::tlb;

namespace {

Library ParseWidget() {
  std::ifstream in(WIDGET_IDL);
  std::stringstream s;
  s << in.rdbuf();
  Library lib;
  std::string error;
  EXPECT_TRUE(idlc::ParseIdl(s.str(), "widget.idl", &lib, &error)) << error;
  return lib;
}

}  // namespace

TEST(IdlTest, ReadsEveryMemberKindInDeclarationOrder) {
  Library lib = ParseWidget();
  EXPECT_EQ(lib.name, "WidgetLib");
  EXPECT_EQ(lib.major, 1);
  EXPECT_EQ(lib.minor, 2);
  EXPECT_EQ(lib.help, "Widget 1.2 Type Library");
  EXPECT_EQ(lib.imports, std::vector<std::string>{"stdole2.tlb"});
  ASSERT_EQ(lib.types.size(), 3u);

  const TypeEntry& itf = lib.types[0];
  EXPECT_EQ(itf.name, "_IWidget");
  EXPECT_EQ(itf.typeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FHIDDEN |
                               TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE);
  struct Expected {
    const char* name;
    MEMBERID memid;
    INVOKEKIND kind;
  };
  const Expected expected[] = {{"Picture", 0x68030010, INVOKE_PROPERTYGET},
                               {"Data", 0x6803000B, INVOKE_PROPERTYPUTREF},
                               {"Data", 0x6803000B, INVOKE_PROPERTYGET},
                               {"Count", 0x6803000A, INVOKE_PROPERTYPUT},
                               {"Count", 0x6803000A, INVOKE_PROPERTYGET},
                               {"Shown", 0x68030009, INVOKE_PROPERTYPUT},
                               {"Shown", 0x68030009, INVOKE_PROPERTYGET},
                               {"Key", 0x68030008, INVOKE_PROPERTYPUT},
                               {"Name", 0x68030007, INVOKE_PROPERTYGET},
                               {"Run", 0x60030012, INVOKE_FUNC},
                               {"Execute", 0x60030013, INVOKE_FUNC},
                               {"Join", 1, INVOKE_FUNC},
                               {"Add", 2, INVOKE_FUNC},
                               {"Bump", 3, INVOKE_FUNC},
                               {"Fail", 4, INVOKE_FUNC},
                               {"Tail", 5, INVOKE_FUNC},
                               {"Names", 6, INVOKE_FUNC},
                               {"Byte", 7, INVOKE_FUNC},
                               {"Clone", 8, INVOKE_FUNC},
                               {"CountOf", 9, INVOKE_FUNC}};
  ASSERT_EQ(itf.functions.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(itf.functions[i].name, expected[i].name);
    EXPECT_EQ(itf.functions[i].memid, expected[i].memid);
    EXPECT_EQ(itf.functions[i].invkind, expected[i].kind);
    EXPECT_EQ(itf.functions[i].slot, 7 + i);  // after IUnknown's three and IDispatch's four
  }
  const Function& exec = itf.functions[10];
  EXPECT_EQ(exec.funcFlags, FUNCFLAG_FHIDDEN);
  EXPECT_EQ(exec.help, "for expansion");
  ASSERT_EQ(exec.params.size(), 3u);
  EXPECT_EQ(exec.params[0].flags, PARAMFLAG_FIN);
  EXPECT_EQ(exec.params[0].type.chain, std::vector<VARTYPE>{VT_I4});
  EXPECT_EQ(exec.params[1].flags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
  EXPECT_EQ(exec.params[1].type.chain, (std::vector<VARTYPE>{VT_PTR, VT_VARIANT}));
  EXPECT_EQ(exec.params[2].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  EXPECT_EQ(itf.functions[0].params[0].type.chain, (std::vector<VARTYPE>{VT_PTR, VT_DISPATCH}));
  EXPECT_EQ(itf.functions[16].params[0].type.chain, (std::vector<VARTYPE>{VT_SAFEARRAY, VT_BSTR}));
  EXPECT_EQ(itf.functions[15].params[1].flags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
  // The library's own interface, by reference as a result and by value as an argument.
  EXPECT_EQ(itf.functions[18].params[0].type, (Type{{VT_PTR, VT_PTR, VT_USERDEFINED}, "_IWidget"}));
  EXPECT_EQ(itf.functions[19].params[0].type, (Type{{VT_PTR, VT_USERDEFINED}, "_IWidget"}));

  EXPECT_EQ(lib.types[1].kind, Kind::Alias);
  EXPECT_EQ(lib.types[1].name, "IWidget___v0");
  EXPECT_EQ(lib.types[1].aliasOf, "_IWidget");
  EXPECT_EQ(lib.types[1].typeFlags, TYPEFLAG_FHIDDEN);
  EXPECT_EQ(lib.types[2].kind, Kind::CoClass);
  EXPECT_EQ(lib.types[2].typeFlags, TYPEFLAG_FCANCREATE);
  ASSERT_EQ(lib.types[2].impls.size(), 1u);
  EXPECT_EQ(lib.types[2].impls[0].flags, IMPLTYPEFLAG_FDEFAULT);
}

TEST(IdlTest, BinaryFormRoundTripsAndRejectsDamage) {
  Library lib = ParseWidget();
  std::vector<uint8_t> bytes = Serialize(lib);
  Library back;
  std::string error;
  ASSERT_TRUE(Deserialize(bytes, &back, &error)) << error;
  EXPECT_EQ(Serialize(back), bytes);

  // Every truncation fails cleanly, as do trailing bytes and a foreign file.
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(Deserialize(std::span(bytes.data(), n), &back, &error)) << n;
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(Deserialize(longer, &back, &error));
  std::vector<uint8_t> foreign = bytes;
  foreign[0] = 'X';
  EXPECT_FALSE(Deserialize(foreign, &back, &error));
  EXPECT_NE(error.find("magic"), std::string::npos);
  // A huge count in the middle must not allocate or read past the end.
  std::vector<uint8_t> huge = bytes;
  size_t at = 4 + 4 + 4 + lib.name.size() + 16 + 2 + 2 + 4 + 2 + 4 + lib.help.size();
  huge[at] = huge[at + 1] = huge[at + 2] = huge[at + 3] = 0xff;
  EXPECT_FALSE(Deserialize(huge, &back, &error));
}

TEST(IdlTest, LoaderRejectsInconsistentLibraries) {
  // Well-formed bytes describing what the runtime cannot call safely.
  std::vector<void (*)(Library*)> damage = {
      [](Library* l) { l->types[0].functions[0].params[0].type.chain = {VT_PTR}; },
      [](Library* l) {
        l->types[0].functions[12].params[0].type.chain = {VT_I4, VT_I4};
      },
      [](Library* l) { l->types[0].functions[3].params[0].type.chain = {VT_USERDEFINED}; },
      [](Library* l) { l->types[0].functions[19].params[0].type.userType = "Widget"; },
      [](Library* l) { l->types[0].functions[18].params[0].type.chain = {VT_USERDEFINED}; },
      [](Library* l) { l->types[0].base = "_IWidget"; },
      [](Library* l) { l->types[0].functions[5].slot = 99; },
      [](Library* l) { l->types[1].aliasOf = "Nothing"; },
      [](Library* l) { l->types[2].impls[0].name = "Nothing"; },
      [](Library* l) {
        std::swap(l->types[0].functions[10].params[1], l->types[0].functions[10].params[2]);
      },
  };
  for (size_t i = 0; i < damage.size(); ++i) {
    Library lib = ParseWidget();
    damage[i](&lib);
    Library back;
    std::string error;
    EXPECT_FALSE(Deserialize(Serialize(lib), &back, &error)) << i;
  }
}

TEST(IdlTest, ReportsMistakesWithTheirLine) {
  const std::string head =
      "[uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E1), version(1.0)]\nlibrary L {\n";
  const std::string itf = "[object, uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E2), dual]\n";
  struct Case {
    std::string body;
    const char* message;
  };
  const Case cases[] = {
      {"[object, dual] interface I : IDispatch { };\n};", "needs a uuid"},
      {itf + "interface I : IDispatch {\n[propget] HRESULT P([in] long v);\n};\n};",
       "5: P: a propget needs an [out, retval] parameter"},
      {itf + "interface I : IDispatch {\nHRESULT F([in] Widget* w);\n};\n};",
       "unknown type 'Widget'"},
      {itf + "interface I : IDispatch {\nlong F();\n};\n};",
       "F: an automation method returns HRESULT"},
      {itf + "interface I : IDispatch {\n[id(1)] HRESULT A();\n[id(1)] HRESULT B();\n};\n};",
       "6: I: B and A share a DISPID"},
      {itf + "interface I : IDispatch {\nHRESULT F([out, retval] long* r, [in] long a);\n};\n};",
       "[retval] must be the last parameter"},
      {itf + "interface I : IDispatch {\n[shiny] HRESULT F();\n};\n};", "attribute 'shiny'"},
      {itf + "interface I : IUnknown {\n};\n};", "4: dual interface I must derive from IDispatch"},
      {"typedef [uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E3)] Nope Alias;\n};",
       "3: typedef Alias: Nope is not an interface"},
      {itf + "interface I : IDispatch {\nHRESULT F([in] long a)\n};\n};", "expected ';'"},
      {itf + "interface I : IDispatch {\nHRESULT F([in, optional] long a);\n};\n};",
       "only VARIANT parameters can be [optional]"},
      {itf + "interface I : IDispatch {\nHRESULT F([in] I i);\n};\n};", "unknown type 'I'"},
      {itf + "interface I : IDispatch {\nHRESULT F([in] I** i);\n};\n};",
       "[in] interface parameter i takes the interface pointer"},
      {itf + "interface I : IDispatch {\nHRESULT F([in, out] I** i);\n};\n};",
       "[in, out] interface parameter i is not supported"},
      {itf + "interface I : IDispatch {\nHRESULT F([out, retval] I* r);\n};\n};",
       "[out] parameter r must be a pointer"},
      {itf + "interface I : IDispatch {\n\nHRESULT F([in] L* l);\n};\n};",
       "6: F: unknown type 'L'"},
  };
  for (const auto& c : cases) {
    Library lib;
    std::string error;
    EXPECT_FALSE(idlc::ParseIdl(head + c.body, "t.idl", &lib, &error)) << c.body;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(error.rfind("t.idl:", 0), 0u) << error;
  }
}

TEST(IdlTest, InterfacesMayBeUsedBeforeTheirDefinition) {
  const std::string text =
      "[uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E1)] library L {\n"
      "interface J;\n"
      "[object, uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E2), dual] interface I : IDispatch {\n"
      "HRESULT M([in] J* j, [out, retval] J** r);\n};\n"
      "[object, uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E3)] interface J : IUnknown {\n};\n};";
  Library lib;
  std::string error;
  ASSERT_TRUE(idlc::ParseIdl(text, "t.idl", &lib, &error)) << error;
  const auto& params = lib.types[0].functions[0].params;
  EXPECT_EQ(params[0].type, (Type{{VT_PTR, VT_USERDEFINED}, "J"}));
  EXPECT_EQ(params[1].type, (Type{{VT_PTR, VT_PTR, VT_USERDEFINED}, "J"}));
  Library back;
  ASSERT_TRUE(Deserialize(Serialize(lib), &back, &error)) << error;
  EXPECT_EQ(back.types[0].functions[0].params[1].type, params[1].type);
}

TEST(IdlTest, AssignsDispatchIdsWhenNoneAreGiven) {
  const std::string text =
      "[uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E1)] library L {\n"
      "[object, uuid(583F2291-85C3-446D-B85A-EFF0AB49E2E2), dual] interface I : IDispatch {\n"
      "[propget] HRESULT P([out, retval] long* r);\n[propput] HRESULT P([in] long v);\n"
      "HRESULT M();\n};\n};";
  Library lib;
  std::string error;
  ASSERT_TRUE(idlc::ParseIdl(text, "t.idl", &lib, &error)) << error;
  const auto& f = lib.types[0].functions;
  EXPECT_EQ(f[0].memid, f[1].memid);  // one property, one DISPID
  EXPECT_NE(f[0].memid, f[2].memid);
}
