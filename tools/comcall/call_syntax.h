// The call syntax of comcall: Name, Name=VALUE, Name(ARG, ...), Name(ARG, ...)=VALUE.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "com/ptr.h"

namespace comcall {

struct Call {
  std::string name;
  bool hasArgs = false;               // written with parentheses
  std::vector<com::Variant> args;     // in the order written; a left-out one is "missing"
  std::optional<com::Variant> value;  // the value of a property write
};

// Numbers (decimal, optionally with a fraction or exponent), True/False, "quoted text"
// ("" or \" for a quote inside), or bare text; empty means a left-out argument.
com::Variant ParseValue(const std::string& text);
// False with a reason for malformed text.
bool ParseCall(const std::string& text, Call* call, std::string* error);
// A result as comcall prints it: texts as they are, booleans True/False, numbers in
// decimal, empty as nothing.
std::string FormatValue(const VARIANT& v);

}  // namespace comcall
