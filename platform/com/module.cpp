#include "com/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "com/resource.h"
#include "com/strings.h"

namespace com {

namespace {

// The name under which the dynamic linker knows the module ("" for the program).
bool LinkName(HMODULE module, std::string* name) {
  if (!module) return false;
  link_map* lm = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &lm) != 0 || !lm) return false;
  *name = lm->l_name ? lm->l_name : "";
  return true;
}

const ComResourceDirectory* Directory(HMODULE module) {
  std::string own;
  if (!LinkName(module, &own)) return nullptr;
  dlerror();
  void* sym = dlsym(module, kComResourceSymbol);
  if (!sym) return nullptr;
  // dlsym also searches the module's dependencies: only the module's own directory counts.
  Dl_info info{};
  if (!dladdr(sym, &info)) return nullptr;
  HMODULE holder = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (holder) dlclose(holder);
  std::string symName;
  if (holder != module && !(LinkName(holder, &symName) && symName == own)) return nullptr;
  auto fn = reinterpret_cast<const ComResourceDirectory* (*)()>(sym);
  const ComResourceDirectory* dir = fn();
  if (!dir || dir->version != kComResourceDirectoryVersion) return nullptr;
  return dir;
}

class ByteReader {
 public:
  explicit ByteReader(std::span<const BYTE> b) : b_(b) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == b_.size(); }
  uint16_t U16() {
    if (!ok_ || b_.size() - pos_ < 2) return ok_ = false, 0;
    uint16_t v = static_cast<uint16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  std::string Str() {
    uint32_t n = U32();
    if (!ok_ || b_.size() - pos_ < n) return ok_ = false, std::string();
    std::string s(reinterpret_cast<const char*>(b_.data() + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  std::span<const BYTE> b_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info{};
  if (!address || !dladdr(address, &info) || !info.dli_fname) return nullptr;
  HMODULE h = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (h) {
    dlclose(h);  // the module stays loaded; the handle names it without holding it
    return h;
  }
  // Only the program itself is loaded yet not found again by its path.
  HMODULE self = dlopen(nullptr, RTLD_LAZY);
  if (self) dlclose(self);
  return self;
}

std::string ModuleFileName(HMODULE module) {
  std::string name;
  if (!LinkName(module, &name)) return {};
  if (name.empty()) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
  }
  char* real = realpath(name.c_str(), nullptr);
  if (!real) return name;
  std::string out(real);
  std::free(real);
  return out;
}

std::optional<std::span<const BYTE>> FindResource(HMODULE module, std::string_view type,
                                                  unsigned id) {
  const ComResourceDirectory* dir = Directory(module);
  if (!dir) return std::nullopt;
  for (unsigned i = 0; i < dir->count; ++i) {
    const ComResourceEntry& e = dir->entries[i];
    if (e.type && type == e.type && e.id == id) return std::span<const BYTE>(e.data, e.size);
  }
  return std::nullopt;
}

std::optional<std::u16string> LoadStringResource(HMODULE module, unsigned id) {
  auto bytes = FindResource(module, "STRING", id);
  if (!bytes) return std::nullopt;
  return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

std::optional<VersionInfo> ParseVersionInfo(std::span<const BYTE> bytes) {
  ByteReader r(bytes);
  if (r.U32() != kVersionMagic) return std::nullopt;
  VersionInfo v;
  for (WORD& w : v.fileVersion) w = r.U16();
  for (WORD& w : v.productVersion) w = r.U16();
  v.fileType = r.U32();
  v.fileOS = r.U32();
  v.language = r.U16();
  v.codePage = r.U16();
  uint32_t n = r.U32();
  for (uint32_t i = 0; r.ok() && i < n; ++i) {
    std::u16string key = Utf8ToUtf16(r.Str());
    std::u16string value = Utf8ToUtf16(r.Str());
    if (!r.ok()) break;
    struct Field {
      const char16_t* name;
      std::u16string VersionInfo::*member;
    };
    static const Field kFields[] = {{u"FileDescription", &VersionInfo::FileDescription},
                                    {u"FileVersion", &VersionInfo::FileVersion},
                                    {u"ProductVersion", &VersionInfo::ProductVersion},
                                    {u"Comments", &VersionInfo::Comments},
                                    {u"InternalName", &VersionInfo::InternalName},
                                    {u"OriginalFilename", &VersionInfo::OriginalFilename},
                                    {u"ProductName", &VersionInfo::ProductName},
                                    {u"CompanyName", &VersionInfo::CompanyName},
                                    {u"LegalCopyright", &VersionInfo::LegalCopyright}};
    for (const Field& f : kFields)
      if (key == f.name) v.*f.member = value;
    if (key == u"OLESelfRegister") v.OLESelfRegister = true;
    v.strings.emplace_back(std::move(key), std::move(value));
  }
  if (!r.ok() || !r.AtEnd()) return std::nullopt;
  return v;
}

std::optional<VersionInfo> ReadVersionInfo(HMODULE module) {
  auto bytes = FindResource(module, "VERSION", 1);
  if (!bytes) return std::nullopt;
  return ParseVersionInfo(*bytes);
}

}  // namespace com

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax) {
  auto s = com::LoadStringResource(module, id);
  if (!s || !buffer || bufferMax <= 0) return 0;
  size_t n = std::min(s->size(), static_cast<size_t>(bufferMax - 1));
  std::memcpy(buffer, s->data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<int>(n);
}
