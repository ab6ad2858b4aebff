// The registrar: runs a registry script for registration or unregistration.
//
// Script format (one or more root blocks):
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {2621762B-...} = s 'Some Class'
//       {
//         InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' }
//       }
//     }
//   }
// Roots: HKCR, HKCU, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER. A key is a name (bare or quoted
// 'like this', '' for a quote) with optional flags before it (NoRemove, ForceRemove,
// Delete), an optional default value (= s 'text' or = d number) and an optional block of
// subkeys and named values (val Name = s 'text' | d number). %NAME% in a name or text is
// replaced by the caller's substitution of that name; %% is a percent sign. Braces need no
// space around them; a braced GUID ({2621762B-...}) is a name.
//
// Registration creates every key and writes every value; ForceRemove first deletes the key
// with all below it; Delete deletes the key (and writes nothing below it). Unregistration
// deletes the named values of the script and every key that the script creates, unless
// marked NoRemove: a ForceRemove key with all below it, another key once nothing is left
// below it. The whole script runs in one registry transaction; a malformed script is
// rejected before anything is written.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/base.h"

namespace com::server {

using Substitutions = std::vector<std::pair<std::string, std::string>>;  // name, text (UTF-8)

struct RegistrarResult {
  HRESULT hr = S_OK;
  int line = 0;         // line at which a malformed script stopped; 0 otherwise
  std::string message;  // empty on success
};

// Checks the script and, when it is well formed, runs it. A malformed script gives
// DISP_E_EXCEPTION with the line; a registry failure gives its error as an HRESULT.
RegistrarResult RunRegistryScript(std::string_view script, bool doRegister,
                                  const Substitutions& substitutions);

}  // namespace com::server
