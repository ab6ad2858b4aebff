// Reads the interface-definition subset that the system's components are described in
// and turns it into a type-library model.
#pragma once

#include <string>

#include "com/typelib_model.h"

namespace idlc {

// False with "file:line: reason" for anything outside the subset or inconsistent.
bool ParseIdl(const std::string& text, const std::string& fileName, com::tlb::Library* lib,
              std::string* error);

}  // namespace idlc
