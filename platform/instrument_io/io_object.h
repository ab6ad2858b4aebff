// The InstrumentIO object: opens sessions on addresses and aliases.
#pragma once

#include "InstrumentIO.h"
#include "instrument_io/dual_dispatch.h"

namespace instrument_io {

class InstrumentIOObject : public DualDispatch<IInstrumentIO, &IID_IInstrumentIO>,
                           public ISupportErrorInfo {
 public:
  static const InterfaceEntry* InterfaceTable();
  static HRESULT UpdateRegistry(BOOL doRegister);

  HRESULT STDMETHODCALLTYPE OpenSession(BSTR address, IDispatch** session) override;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;
};

}  // namespace instrument_io
