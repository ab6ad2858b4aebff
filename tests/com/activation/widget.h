// The test servers' one interface and identities.
#pragma once

#include "com/unknown.h"

struct IWidget : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Version(LONG* version) = 0;
};

inline constexpr IID IID_IWidget = com::Guid("{5B1E2C0A-7D34-4F21-9A0E-3C7B9E1D2F40}");
inline constexpr CLSID CLSID_Widget1 = com::Guid("{5B1E2C0A-7D34-4F21-9A0E-3C7B9E1D2F41}");
inline constexpr CLSID CLSID_Widget2 = com::Guid("{5B1E2C0A-7D34-4F21-9A0E-3C7B9E1D2F42}");
