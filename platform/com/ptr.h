// Holders that release what they own, so that no caller releases by hand.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "com/bstr.h"
#include "com/strings.h"
#include "com/variant.h"

namespace com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: releases what is held and gives the address to fill.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->PutVoid());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

// Owns one BSTR.
class BStr {
 public:
  BStr() = default;
  explicit BStr(std::u16string_view s)
      : b_(s.empty() ? nullptr : SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  explicit BStr(std::string_view utf8) : BStr(Utf8ToUtf16(utf8)) {}
  explicit BStr(const char* utf8) : BStr(std::string_view(utf8)) {}
  BStr(const BStr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
  BStr(BStr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  ~BStr() { SysFreeString(b_); }
  BStr& operator=(BStr o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }

  static BStr Attach(BSTR b) {
    BStr r;
    r.b_ = b;
    return r;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }
  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  UINT Length() const { return SysStringLen(b_); }
  bool Empty() const { return Length() == 0; }
  std::u16string_view View() const { return b_ ? std::u16string_view(b_, Length()) : u""; }
  std::string Utf8() const { return Utf16ToUtf8(View()); }
  friend bool operator==(const BStr& a, const BStr& b) { return a.View() == b.View(); }

 private:
  BSTR b_ = nullptr;
};

// Owns one VARIANT; clears it when done.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& o) : Variant() { VariantCopy(&v_, &o.v_); }
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  explicit Variant(const VARIANT& v) : Variant() { VariantCopy(&v_, &v); }
  ~Variant() { VariantClear(&v_); }
  Variant& operator=(Variant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }

  static Variant FromI4(LONG v) {
    Variant r;
    r.v_.vt = VT_I4;
    r.v_.lVal = v;
    return r;
  }
  static Variant FromI2(SHORT v) {
    Variant r;
    r.v_.vt = VT_I2;
    r.v_.iVal = v;
    return r;
  }
  static Variant FromBool(bool v) {
    Variant r;
    r.v_.vt = VT_BOOL;
    r.v_.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
  }
  static Variant FromText(std::u16string_view s) {
    Variant r;
    r.v_.vt = VT_BSTR;
    r.v_.bstrVal = BStr(s).Detach();
    return r;
  }
  static Variant FromText(std::string_view utf8) { return FromText(Utf8ToUtf16(utf8)); }
  // Adopts an array the caller owns.
  static Variant FromArray(VARTYPE elementType, SAFEARRAY* sa) {
    Variant r;
    r.v_.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
    r.v_.parray = sa;
    return r;
  }

  VARIANT* Get() { return &v_; }
  const VARIANT* Get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }
  // Clears and gives the variant to fill as an out parameter.
  VARIANT* Put() {
    VariantClear(&v_);
    return &v_;
  }
  VARIANT Detach() {
    VARIANT v = v_;
    VariantInit(&v_);
    return v;
  }
  VARTYPE Type() const { return v_.vt; }

 private:
  VARIANT v_;
};

}  // namespace com
