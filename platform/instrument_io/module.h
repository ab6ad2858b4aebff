// This library's module state and the type information its dual interfaces dispatch
// through, from the type library it carries (TYPELIB 1).
#pragma once

#include "InstrumentIO.h"
#include "server/dispatch.h"
#include "server/module.h"

namespace instrument_io {

extern ModuleState InstrumentIOModule;
using TypeInfo = com::server::TypeInfoHolder<&InstrumentIOModule>;
extern TypeInfo InstrumentIOTypeInfo;
extern TypeInfo InstrumentSessionTypeInfo;

}  // namespace instrument_io
