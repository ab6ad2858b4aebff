// The converter class TiffToBitmap: one method, Convert, over the imaging library.
#pragma once

#include "Rastova.h"
#include "server/dispatch.h"
#include "server/module.h"

// The module state of this library (one per loaded copy).
extern ModuleState RastovaModule;
// The type information of ITiffToBitmap from RASTOVALib 1.0.
extern com::server::TypeInfoHolder<&RastovaModule> TiffToBitmapTypeInfo;

class TiffToBitmap : public com::DispatchImpl<ITiffToBitmap, &TiffToBitmapTypeInfo> {
 public:
  // ITiffToBitmap, IDispatch; IUnknown by the first; nothing else.
  static const InterfaceEntry* InterfaceTable();
  // The class's registration routine: registry script 101, no substitutions but the path.
  static HRESULT UpdateRegistry(BOOL doRegister);

  HRESULT STDMETHODCALLTYPE Convert(BSTR pathToTiff, BSTR pathToBitmap) override;
};
