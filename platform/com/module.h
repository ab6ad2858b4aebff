// Modules: a loaded shared library is known by its dlopen handle, as the platform knows a
// library by its module handle, and carries resources that rescomp embedded in it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/base.h"

using HMODULE = void*;
using HINSTANCE = void*;

namespace com {

// The module that holds `address` (a function or variable of it), so that a server finds
// its own handle; null when no loaded module holds it. The handle stays valid while the
// module is loaded and needs no freeing.
HMODULE ModuleFromAddress(const void* address);

// The absolute path of the module's file (of the program itself for the program's
// handle); empty for a handle that names no loaded module.
std::string ModuleFileName(HMODULE module);

// The bytes of resource `type`/`id` of this module (never of another module it uses);
// nothing when the module carries no such resource. The bytes live as long as the module.
std::optional<std::span<const BYTE>> FindResource(HMODULE module, std::string_view type,
                                                  unsigned id);

// STRING resource `id` as UTF-16.
std::optional<std::u16string> LoadStringResource(HMODULE module, unsigned id);

// The version block of a module.
struct VersionInfo {
  WORD fileVersion[4]{};     // 1,0,0,1
  WORD productVersion[4]{};  // 1,0,0,1
  DWORD fileType = 0;        // VFT_DLL, VFT_APP
  DWORD fileOS = 0;          // VOS_NT_WINDOWS32
  WORD language = 0;         // 0x0409
  WORD codePage = 0;         // 1200
  std::u16string FileDescription, FileVersion, ProductVersion, Comments, InternalName,
      OriginalFilename, ProductName, CompanyName, LegalCopyright;
  bool OLESelfRegister = false;
  // Every string of the block, the ones above included, in the order given.
  std::vector<std::pair<std::u16string, std::u16string>> strings;
};
// Nothing when the module has no version block or it is malformed.
std::optional<VersionInfo> ReadVersionInfo(HMODULE module);
// The same, read from the bytes of a VERSION resource.
std::optional<VersionInfo> ParseVersionInfo(std::span<const BYTE> bytes);

}  // namespace com

// The platform's name for reading a STRING resource into a buffer: the number of
// characters copied (without the terminating zero), 0 when there is no such string.
extern "C" int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax);
