// A module's resources: what rescomp embeds in a server library and the runtime finds by
// type and id. The layout below is shared by the generated sources and the reader.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct ComResourceEntry {
  const char* type;  // "REGISTRY", "TYPELIB", "STRING", "VERSION", or any other name
  unsigned id;
  const unsigned char* data;
  size_t size;
};

struct ComResourceDirectory {
  unsigned version;  // kComResourceDirectoryVersion
  unsigned count;
  const ComResourceEntry* entries;
};

// Every module with resources exports this one function (written by rescomp).
const ComResourceDirectory* ComModuleResources();
}

inline constexpr unsigned kComResourceDirectoryVersion = 1;
inline constexpr const char kComResourceSymbol[] = "ComModuleResources";

// A STRING resource is UTF-8 without a terminator. The VERSION resource (id 1) is, all
// little-endian: "CVER", u16 file version[4], u16 product version[4], u32 file type, u32
// file OS, u16 language, u16 code page, u32 count, then count pairs of (u32 length, UTF-8
// key) and (u32 length, UTF-8 value).
inline constexpr uint32_t kVersionMagic = 0x52455643;
inline constexpr uint32_t VFT_APP = 1;
inline constexpr uint32_t VFT_DLL = 2;
inline constexpr uint32_t VOS_NT_WINDOWS32 = 0x40004;
