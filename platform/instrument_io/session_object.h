// The InstrumentSession object: one open session, handed out by OpenSession.
#pragma once

#include <memory>

#include "InstrumentIO.h"
#include "instrument_io/module.h"
#include "instrument_io/session_core.h"

namespace instrument_io {

class SessionObject : public com::DispatchImpl<InstrumentSession, &InstrumentSessionTypeInfo>,
                      public ISupportErrorInfo {
 public:
  static const InterfaceEntry* InterfaceTable();
  // A new object that owns the session, as its InstrumentSession (one reference).
  static HRESULT Create(std::unique_ptr<SessionCore> core, InstrumentSession** out);

  HRESULT STDMETHODCALLTYPE get_SessionAddress(BSTR* address) override;
  HRESULT STDMETHODCALLTYPE WriteCommand(VARIANT command) override;
  HRESULT STDMETHODCALLTYPE ReadFormatted(VARIANT* data, BSTR format) override;
  HRESULT STDMETHODCALLTYPE get_TimeoutMs(LONG* ms) override;
  HRESULT STDMETHODCALLTYPE put_TimeoutMs(LONG ms) override;
  HRESULT STDMETHODCALLTYPE put_TermChar(LONG termChar) override;
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  std::unique_ptr<SessionCore> core_;
};

}  // namespace instrument_io
