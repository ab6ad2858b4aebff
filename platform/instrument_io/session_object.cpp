#include "instrument_io/session_object.h"

#include <new>

#include "com/bstr.h"
#include "com/errorinfo.h"
#include "com/ptr.h"
#include "instrument_io/read_formatted.h"
#include "server/object.h"

namespace instrument_io {
namespace {

constexpr std::string_view kSource = "Quorell.InstrumentIO";

HRESULT Fail(HRESULT hr, const std::string& description) {
  return com::SetError(hr, std::string_view(description), kSource);
}

// Runs one operation of the core; an IoError becomes the call's error information.
template <class F>
HRESULT Guarded(F&& f) {
  try {
    return f();
  } catch (const IoError& e) {
    return Fail(e.number(), e.what());
  } catch (const std::bad_alloc&) {
    return Fail(E_OUTOFMEMORY, "out of memory");
  } catch (const std::exception& e) {
    return Fail(E_FAIL, e.what());
  }
}

}  // namespace

const InterfaceEntry* SessionObject::InterfaceTable() {
  static const InterfaceEntry table[] = {
      {&IID_InstrumentSession, InterfaceOffset<SessionObject, InstrumentSession>()},
      {&IID_IDispatch, InterfaceOffset<SessionObject, InstrumentSession>()},
      {&IID_ISupportErrorInfo, InterfaceOffset<SessionObject, ISupportErrorInfo>()},
      {nullptr, 0}};
  return table;
}

HRESULT SessionObject::Create(std::unique_ptr<SessionCore> core, InstrumentSession** out) {
  auto* object = new (std::nothrow) com::server::PlainObject<SessionObject, &InstrumentIOModule>();
  if (!object) return E_OUTOFMEMORY;
  object->core_ = std::move(core);
  return object->QueryInterface(IID_InstrumentSession, reinterpret_cast<void**>(out));
}

HRESULT SessionObject::get_SessionAddress(BSTR* address) {
  if (!address) return E_POINTER;
  *address = BytesToBstr(core_->Address());
  return S_OK;
}

HRESULT SessionObject::WriteCommand(VARIANT command) {
  const VARIANT* v = &command;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  com::Variant text;
  if (v->vt == VT_BSTR) {
    VariantCopy(text.Get(), v);
  } else if (FAILED(VariantChangeType(text.Get(), v, 0, VT_BSTR))) {
    return Fail(DISP_E_TYPEMISMATCH, core_->Address() +
                                         ": WriteCommand needs a command text, not a variant "
                                         "of type " +
                                         std::to_string(v->vt));
  }
  BSTR b = text->bstrVal;
  std::string bytes;
  if (!BstrToBytes(b, SysStringLen(b), &bytes))
    return Fail(IO_E_ARGUMENT, core_->Address() +
                                   ": the command holds a character that "
                                   "cannot be sent as one byte");
  if (bytes.empty()) return Fail(IO_E_ARGUMENT, core_->Address() + ": the command is empty");
  return Guarded([&] {
    core_->Write(bytes);
    return S_OK;
  });
}

HRESULT SessionObject::ReadFormatted(VARIANT* data, BSTR format) {
  ReadPlan plan;
  std::string why;
  if (HRESULT hr = PlanRead(data, format, &plan, &why); FAILED(hr))
    return Fail(hr, core_->Address() + ": " + why);
  return Guarded([&] {
    if (plan.kind == ReadPlan::kBytes) {
      ByteArraySink sink;
      core_->ReadBlock(sink);
      sink.Store(plan);
      return S_OK;
    }
    return StoreText(plan, core_->ReadText());
  });
}

HRESULT SessionObject::get_TimeoutMs(LONG* ms) {
  if (!ms) return E_POINTER;
  *ms = core_->TimeoutMs();
  return S_OK;
}

HRESULT SessionObject::put_TimeoutMs(LONG ms) {
  return Guarded([&] {
    core_->SetTimeoutMs(ms);
    return S_OK;
  });
}

HRESULT SessionObject::put_TermChar(LONG termChar) {
  return Guarded([&] {
    core_->SetTermChar(termChar);
    return S_OK;
  });
}

HRESULT SessionObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_InstrumentSession ? S_OK : S_FALSE;
}

}  // namespace instrument_io
