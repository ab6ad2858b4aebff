#include "narrow_path.h"

#include "com/strings.h"

NarrowPath::NarrowPath(const OLECHAR* wide) {
  if (wide) wide_.emplace(wide, com::WideLength(wide));
}

const char* NarrowPath::Narrow() {
  if (!wide_) return nullptr;
  if (!narrow_) {
    std::string out;
    if (!wide_->empty()) {
      // The buffer comes from the conversion's own size query: a multi-byte code page takes
      // up to three bytes for one UTF-16 unit, so no fixed ratio would be safe.
      int length = static_cast<int>(wide_->size());
      int size =
          WideCharToMultiByte(CP_ACP, 0, wide_->data(), length, nullptr, 0, nullptr, nullptr);
      if (size <= 0) throw PathError{HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)};
      out.resize(static_cast<size_t>(size));
      int written =
          WideCharToMultiByte(CP_ACP, 0, wide_->data(), length, out.data(), size, nullptr, nullptr);
      if (written <= 0) throw PathError{HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)};
      out.resize(static_cast<size_t>(written));
    }
    narrow_ = std::move(out);
  }
  return narrow_->c_str();
}
