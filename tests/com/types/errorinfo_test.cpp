#include "com/errorinfo.h"

#include <gtest/gtest.h>

#include <thread>

#include "com/bstr.h"
#include "com/strings.h"

TEST(ErrorInfo, NumberAndDescriptionAreTakenOnce) {
  EXPECT_EQ(com::SetError(E_FAIL, "Timed out after 500 ms on TCPIP::127.0.0.1::5025::SOCKET"),
            E_FAIL);
  com::ErrorDescription e = com::TakeError(S_OK);
  EXPECT_EQ(e.number, E_FAIL);
  EXPECT_EQ(com::Utf16ToUtf8(e.description),
            "Timed out after 500 ms on TCPIP::127.0.0.1::5025::SOCKET");
  com::ErrorDescription again = com::TakeError(E_ABORT);
  EXPECT_EQ(again.number, E_ABORT);
  EXPECT_TRUE(again.description.empty());
}

TEST(ErrorInfo, PlatformCallsAndThreads) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"from create"));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  SetErrorInfo(0, info);
  info->Release();
  // Another thread has its own information.
  std::thread([] {
    IErrorInfo* none = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    com::SetError(E_FAIL, "left on a thread that ends");
  }).join();
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  BSTR d = nullptr;
  got->GetDescription(&d);
  EXPECT_EQ(std::u16string_view(d), u"from create");
  SysFreeString(d);
  got->Release();
}

TEST(ErrorInfo, ResultTexts) {
  EXPECT_EQ(com::FormatResult(REGDB_E_CLASSNOTREG), "0x80040154 (Class not registered)");
  EXPECT_EQ(com::ResultText(static_cast<HRESULT>(0x80041234u)), "Error");
}
