// The InstrumentIO object: opens sessions on addresses and aliases.
#pragma once

#include "InstrumentIO.h"
#include "instrument_io/module.h"

namespace instrument_io {

class InstrumentIOObject : public com::DispatchImpl<IInstrumentIO, &InstrumentIOTypeInfo>,
                           public ISupportErrorInfo {
 public:
  static const InterfaceEntry* InterfaceTable();
  static HRESULT UpdateRegistry(BOOL doRegister);

  HRESULT STDMETHODCALLTYPE OpenSession(BSTR address, InstrumentSession** session) override;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;
};

}  // namespace instrument_io
