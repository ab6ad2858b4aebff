// Writes the C++ declarations of a type library: interfaces as pure abstract structs in
// method-table order and the identities as constants.
#pragma once

#include <string>

#include "com/typelib_model.h"

namespace idlc {

std::string WriteHeader(const com::tlb::Library& lib, const std::string& sourceName);
// A C++ source that holds the binary type library as a byte array named `symbol`.
std::string WriteEmbeddedSource(const std::vector<uint8_t>& bytes, const std::string& symbol);
// The C++ spelling of a parameter type.
std::string CppType(const com::tlb::Type& t);

}  // namespace idlc
