// Type libraries at run time: what ITypeLib and ITypeInfo answer, registration and
// loading by LIBID.
#include "com/typelib.h"

#include <fstream>

#include "com/errorinfo.h"
#include "typelib_fixture.h"
#include "widget.h"

using com::BStr;
using com::ComPtr;

namespace {

ComPtr<ITypeLib> LoadServerLib() {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(com::Utf8ToUtf16(kServerPath).c_str(), lib.Put()), S_OK);
  return lib;
}

ComPtr<ITypeInfo> InfoOf(ITypeLib* lib, const GUID& guid) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, info.Put()), S_OK);
  return info;
}

std::string Description() { return com::Utf16ToUtf8(com::TakeError(S_OK).description); }

}  // namespace

TEST_F(TypelibTest, LibraryAttributesAndDocumentation) {
  // From the server library's resource and from the .tlb file alike.
  for (const std::string& path : {kServerPath, std::string(WIDGET_TLB)}) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(com::Utf8ToUtf16(path).c_str(), lib.Put()), S_OK) << path;
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_WidgetLib);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 2);
    EXPECT_EQ(attr->syskind, SYS_WIN64);
    lib->ReleaseTLibAttr(attr);
    BStr name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Utf8(), "WidgetLib");
    EXPECT_EQ(doc.Utf8(), "Widget 1.2 Type Library");
    ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
    TYPEKIND kinds[3];
    for (UINT i = 0; i < 3; ++i) ASSERT_EQ(lib->GetTypeInfoType(i, &kinds[i]), S_OK);
    EXPECT_EQ(kinds[0], TKIND_DISPATCH);
    EXPECT_EQ(kinds[1], TKIND_ALIAS);
    EXPECT_EQ(kinds[2], TKIND_COCLASS);
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfo(3, none.Put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, none.Put()), TYPE_E_ELEMENTNOTFOUND);
  }
}

TEST_F(TypelibTest, FunctionDescriptionsMatchTheDefinition) {
  ComPtr<ITypeLib> lib = LoadServerLib();
  ComPtr<ITypeInfo> info = InfoOf(lib.Get(), IID__IWidget);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FHIDDEN |
                                  TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attr->cFuncs, 20);
  EXPECT_EQ(attr->cbSizeVft, (7 + 20) * sizeof(void*));
  EXPECT_EQ(attr->cImplTypes, 1);
  info->ReleaseTypeAttr(attr);

  struct Expected {
    UINT index;
    const char* name;
    MEMBERID memid;
    INVOKEKIND kind;
    const char* help;
    WORD flags;
    SHORT params;
  };
  const Expected table[] = {
      {0, "Picture", 0x68030010, INVOKE_PROPERTYGET, "Returns a picture.", 0, 1},
      {1, "Data", 0x6803000B, INVOKE_PROPERTYPUTREF, "Raw data.", 0, 1},
      {3, "Count", 0x6803000A, INVOKE_PROPERTYPUT, "", 0, 1},
      {7, "Key", 0x68030008, INVOKE_PROPERTYPUT, "Key text.", 0, 1},
      {9, "Run", 0x60030012, INVOKE_FUNC, "Does the work.", 0, 0},
      {10, "Execute", 0x60030013, INVOKE_FUNC, "for expansion", FUNCFLAG_FHIDDEN, 3},
      {11, "Join", 1, INVOKE_FUNC, "method Join", 0, 2},
  };
  for (const auto& e : table) {
    SCOPED_TRACE(e.name);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(info->GetFuncDesc(e.index, &fd), S_OK);
    EXPECT_EQ(fd->memid, e.memid);
    EXPECT_EQ(fd->invkind, e.kind);
    EXPECT_EQ(fd->wFuncFlags, e.flags);
    EXPECT_EQ(fd->cParams, e.params);
    EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + e.index) * sizeof(void*)));
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    info->ReleaseFuncDesc(fd);
    BStr name, doc;
    ASSERT_EQ(info->GetDocumentation(e.memid, name.Put(), doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Utf8(), e.name);
    EXPECT_EQ(doc.Utf8(), e.help);
  }
  FUNCDESC* fd = nullptr;
  ASSERT_EQ(info->GetFuncDesc(10, &fd), S_OK);
  const ELEMDESC* p = fd->lprgelemdescParam;
  EXPECT_EQ(p[0].tdesc.vt, VT_I4);
  EXPECT_EQ(p[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
  EXPECT_EQ(p[1].tdesc.vt, VT_PTR);
  EXPECT_EQ(p[1].tdesc.lptdesc->vt, VT_VARIANT);
  EXPECT_EQ(p[1].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
  EXPECT_EQ(p[2].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(p[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  info->ReleaseFuncDesc(fd);
  EXPECT_EQ(info->GetFuncDesc(20, &fd), TYPE_E_ELEMENTNOTFOUND);

  BStr name, doc;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.Put(), doc.Put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(name.Utf8(), "_IWidget");
  EXPECT_EQ(doc.Utf8(), "Widget interface");
  EXPECT_EQ(info->GetDocumentation(0x1234, name.Put(), nullptr, nullptr, nullptr),
            TYPE_E_ELEMENTNOTFOUND);

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(0x60030013, names, 4, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(BStr::Attach(names[0]).Utf8(), "Execute");
  EXPECT_EQ(BStr::Attach(names[1]).Utf8(), "Action");
  EXPECT_EQ(BStr::Attach(names[2]).Utf8(), "arg");
}

TEST_F(TypelibTest, NamesResolveWithoutRegardToCase) {
  ComPtr<ITypeLib> lib = LoadServerLib();
  ComPtr<ITypeInfo> info = InfoOf(lib.Get(), IID__IWidget);
  std::u16string a = u"eXeCuTe", b = u"ACTION", c = u"Arg";
  LPOLESTR names[] = {a.data(), b.data(), c.data()};
  MEMBERID ids[3] = {};
  ASSERT_EQ(info->GetIDsOfNames(names, 3, ids), S_OK);
  EXPECT_EQ(ids[0], 0x60030013);
  EXPECT_EQ(ids[1], 0);
  EXPECT_EQ(ids[2], 1);

  std::u16string unknown = u"Nonesuch";
  LPOLESTR one[] = {unknown.data()};
  ids[0] = 7;
  EXPECT_EQ(info->GetIDsOfNames(one, 1, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], MEMBERID_NIL);
  LPOLESTR mixed[] = {a.data(), unknown.data()};
  EXPECT_EQ(info->GetIDsOfNames(mixed, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60030013);
  EXPECT_EQ(ids[1], MEMBERID_NIL);
}

TEST_F(TypelibTest, AliasCoclassAndBaseReferences) {
  ComPtr<ITypeLib> lib = LoadServerLib();
  ComPtr<ITypeInfo> itf = InfoOf(lib.Get(), IID__IWidget);

  ComPtr<ITypeInfo> alias = InfoOf(lib.Get(), IID_IWidget___v0);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(alias->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_ALIAS);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN);
  ASSERT_EQ(attr->tdescAlias.vt, VT_USERDEFINED);
  ComPtr<ITypeInfo> target;
  ASSERT_EQ(alias->GetRefTypeInfo(attr->tdescAlias.hreftype, target.Put()), S_OK);
  EXPECT_EQ(target.Get(), itf.Get());
  alias->ReleaseTypeAttr(attr);

  ComPtr<ITypeInfo> cls = InfoOf(lib.Get(), CLSID_Widget);
  ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(attr->cImplTypes, 1);
  cls->ReleaseTypeAttr(attr);
  HREFTYPE ref = 0;
  INT implFlags = 0;
  ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
  ASSERT_EQ(cls->GetImplTypeFlags(0, &implFlags), S_OK);
  EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
  ASSERT_EQ(cls->GetRefTypeInfo(ref, target.Put()), S_OK);
  EXPECT_EQ(target.Get(), itf.Get());
  EXPECT_EQ(cls->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);

  ASSERT_EQ(itf->GetRefTypeOfImplType(0, &ref), S_OK);
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(itf->GetRefTypeInfo(ref, base.Put()), S_OK);
  ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IDispatch);
  EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
  base->ReleaseTypeAttr(attr);

  ComPtr<ITypeLib> containing;
  UINT index = 9;
  ASSERT_EQ(cls->GetContainingTypeLib(containing.Put(), &index), S_OK);
  EXPECT_EQ(containing.Get(), lib.Get());
  EXPECT_EQ(index, 2u);
}

TEST_F(TypelibTest, LoadFailuresSayWhy) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(u"/nonexistent/x.tlb", lib.Put()), TYPE_E_CANTLOADLIBRARY);
  EXPECT_NE(Description().find("/nonexistent/x.tlb"), std::string::npos);
  std::string junk = dir_ + "/junk.tlb";
  std::ofstream(junk) << "not a type library";
  EXPECT_EQ(LoadTypeLib(com::Utf8ToUtf16(junk).c_str(), lib.Put()), TYPE_E_INVDATAREAD);
  EXPECT_NE(Description().find("junk.tlb"), std::string::npos);
  EXPECT_EQ(LoadTypeLib(com::Utf8ToUtf16(kServerPath + "\\2").c_str(), lib.Put()),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_NE(Description().find("resource 2"), std::string::npos);
  EXPECT_FALSE(lib);
}

TEST_F(TypelibTest, RegistrationWritesTheUsualKeys) {
  ComPtr<ITypeLib> lib = LoadServerLib();
  ASSERT_EQ(RegisterTypeLib(lib.Get(), u"/opt/widget/libwidget.so", nullptr), S_OK);
  using com::registry::GetText;
  std::string text;
  const std::string key = "HKCR\\TypeLib\\{F8B6BE09-5BDA-4C22-B12F-1C43CF974CE1}\\1.2";
  ASSERT_EQ(GetText(key, "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "Widget 1.2 Type Library");
  ASSERT_EQ(GetText(key + "\\0\\win64", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "/opt/widget/libwidget.so");
  ASSERT_EQ(GetText(key + "\\FLAGS", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "0");
  ASSERT_EQ(GetText(key + "\\HELPDIR", "", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, "/opt/widget");
  for (auto [iid, name] : {std::pair{"{F5555669-96E5-4808-ADB1-761CE9EDA8E8}", "_IWidget"},
                           std::pair{"{1AA95FCD-3D8F-408A-A0E4-FF4641C3E8B0}", "IWidget___v0"}}) {
    std::string ik = std::string("HKCR\\Interface\\") + iid;
    ASSERT_EQ(GetText(ik, "", &text), ERROR_SUCCESS) << iid;
    EXPECT_EQ(text, name);
    ASSERT_EQ(GetText(ik + "\\ProxyStubClsid32", "", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "{00020424-0000-0000-C000-000000000046}");
    ASSERT_EQ(GetText(ik + "\\TypeLib", "", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "{F8B6BE09-5BDA-4C22-B12F-1C43CF974CE1}");
    ASSERT_EQ(GetText(ik + "\\TypeLib", "Version", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "1.2");
  }
  // The coclass is no interface.
  EXPECT_FALSE(com::registry::KeyExists("HKCR\\Interface\\{DEECDCA7-CA59-4A14-AA9E-BF6351C90987}"));
}

TEST_F(TypelibTest, LoadRegTypeLibFindsACompatibleVersion) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(LIBID_WidgetLib, 1, 0, 0, lib.Put()), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(Description(),
            "type library {F8B6BE09-5BDA-4C22-B12F-1C43CF974CE1} version 1.0 is not registered");
  ASSERT_EQ(RegisterTypeLib(LoadServerLib().Get(), com::Utf8ToUtf16(kServerPath).c_str(), nullptr),
            S_OK);
  // Same major, minor at most the registered one; any locale falls back to neutral.
  for (auto [major, minor, lcid] : {std::tuple{1, 0, 0u}, {1, 2, 0x409u}, {1, 1, 0x809u}}) {
    ASSERT_EQ(LoadRegTypeLib(LIBID_WidgetLib, major, minor, lcid, lib.Put()), S_OK) << minor;
    TLIBATTR* attr = nullptr;
    lib->GetLibAttr(&attr);
    EXPECT_EQ(attr->wMinorVerNum, 2);
    lib->ReleaseTLibAttr(attr);
  }
  EXPECT_EQ(LoadRegTypeLib(LIBID_WidgetLib, 1, 3, 0, lib.Put()), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(LoadRegTypeLib(LIBID_WidgetLib, 2, 0, 0, lib.Put()), TYPE_E_LIBNOTREGISTERED);
  EXPECT_FALSE(lib);
}

TEST_F(TypelibTest, UnregisteringRemovesExactlyWhatRegisteringWrote) {
  using com::registry::SetText;
  // Neighbours: another version of the same library, another library's interface, and a
  // value that someone else put under one of our interface keys.
  const std::string libKey = "HKCR\\TypeLib\\{F8B6BE09-5BDA-4C22-B12F-1C43CF974CE1}";
  ASSERT_EQ(SetText(libKey + "\\2.0\\0\\win64", "", "/other/lib.so"), ERROR_SUCCESS);
  ASSERT_EQ(SetText("HKCR\\Interface\\{583F2291-85C3-446D-B85A-EFF0AB49E2E5}\\TypeLib", "",
                    "{00000000-0000-0000-0000-000000000001}"),
            ERROR_SUCCESS);
  ASSERT_EQ(
      SetText("HKCR\\Interface\\{F5555669-96E5-4808-ADB1-761CE9EDA8E8}\\NumMethods", "", "25"),
      ERROR_SUCCESS);
  auto before = Dump("HKCR");
  ComPtr<ITypeLib> lib = LoadServerLib();
  ASSERT_EQ(RegisterTypeLib(lib.Get(), com::Utf8ToUtf16(kServerPath).c_str(), nullptr), S_OK);
  EXPECT_NE(Dump("HKCR"), before);
  ASSERT_EQ(UnRegisterTypeLib(LIBID_WidgetLib, 1, 2, 0, SYS_WIN64), S_OK);
  EXPECT_EQ(Dump("HKCR"), before);
  EXPECT_EQ(UnRegisterTypeLib(LIBID_WidgetLib, 1, 2, 0, SYS_WIN64), TYPE_E_LIBNOTREGISTERED);

  // Alone, the library key itself goes too.
  ASSERT_EQ(com::registry::DeleteTree(libKey + "\\2.0"), ERROR_SUCCESS);
  ASSERT_EQ(RegisterTypeLib(lib.Get(), com::Utf8ToUtf16(kServerPath).c_str(), nullptr), S_OK);
  ASSERT_EQ(UnRegisterTypeLib(LIBID_WidgetLib, 1, 2, 0, SYS_WIN64), S_OK);
  EXPECT_FALSE(com::registry::KeyExists(libKey));
}
