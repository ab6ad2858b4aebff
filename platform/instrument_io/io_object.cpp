#include "instrument_io/io_object.h"

#include "com/bstr.h"
#include "com/errorinfo.h"
#include "instrument_io/read_formatted.h"
#include "instrument_io/session_object.h"
#include "instrument_io/settings.h"

namespace instrument_io {

const InterfaceEntry* InstrumentIOObject::InterfaceTable() {
  static const InterfaceEntry table[] = {
      {&IID_IInstrumentIO, InterfaceOffset<InstrumentIOObject, IInstrumentIO>()},
      {&IID_IDispatch, InterfaceOffset<InstrumentIOObject, IInstrumentIO>()},
      {&IID_ISupportErrorInfo, InterfaceOffset<InstrumentIOObject, ISupportErrorInfo>()},
      {nullptr, 0}};
  return table;
}

HRESULT InstrumentIOObject::UpdateRegistry(BOOL doRegister) {
  return ModuleUpdateRegistryFromResource(&InstrumentIOModule, 101, doRegister);
}

HRESULT InstrumentIOObject::OpenSession(BSTR address, InstrumentSession** session) {
  if (!session) return E_POINTER;
  *session = nullptr;
  std::string text;
  if (!BstrToBytes(address, SysStringLen(address), &text))
    return com::SetError(IO_E_ADDRESS, std::string_view("the I/O address holds a character "
                                                        "outside ISO 8859-1"));
  try {
    OpenOptions options;
    options.resolveAlias = LookUpAlias;
    options.serialSettings = ReadSerialSettings;
    return SessionObject::Create(OpenSessionCore(text, options), session);
  } catch (const IoError& e) {
    return com::SetError(e.number(), std::string_view(e.what()), "Quorell.InstrumentIO");
  } catch (const std::exception& e) {
    return com::SetError(E_FAIL, std::string_view(e.what()), "Quorell.InstrumentIO");
  }
}

HRESULT InstrumentIOObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IInstrumentIO ? S_OK : S_FALSE;
}

}  // namespace instrument_io
