#include "com/collection.h"

#include <atomic>
#include <cwctype>
#include <string>
#include <vector>

#include "collection_lib.h"  // generated from collection_lib.idl
#include "com/dispatch.h"
#include "com/errorinfo.h"
#include "com/ptr.h"

extern const unsigned char ComCollectionTypeLib[];
extern const std::size_t ComCollectionTypeLib_size;

namespace com {

namespace {

static_assert(IID__Collection == IID_Collection);

TypeInfoHolder gCollectionTypeInfo(IID__Collection,
                                   TypeInfoHolder::FromMemory(ComCollectionTypeLib,
                                                              ComCollectionTypeLib_size));

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    c = c < 0x80 ? static_cast<char16_t>((c >= 'A' && c <= 'Z') ? c + 32 : c)
                 : static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}

class Collection final : public DispatchImpl<_Collection, &gCollectionTypeInfo> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__Collection) {
      *ppv = static_cast<_Collection*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE Item(VARIANT index, VARIANT* result) override {
    if (!result) return E_POINTER;
    VariantInit(result);
    size_t at = 0;
    HRESULT hr = Locate(index, &at);
    if (FAILED(hr)) return hr;
    return VariantCopy(result, items_[at].value.Get());
  }

  HRESULT STDMETHODCALLTYPE Add(VARIANT item, VARIANT key) override {
    std::u16string text;
    bool hasKey = false;
    HRESULT hr = KeyText(key, &text, &hasKey);
    if (FAILED(hr)) return hr;
    std::u16string folded = Fold(text);
    if (hasKey)
      for (const auto& e : items_)
        if (e.hasKey && e.folded == folded)
          return SetError(COLLECTION_E_DUPLICATEKEY,
                          u"This key is already associated with an element of this collection");
    Entry e;
    if (FAILED(hr = VariantCopyInd(e.value.Put(), &item))) return hr;
    e.hasKey = hasKey;
    e.folded = std::move(folded);
    items_.push_back(std::move(e));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Count(LONG* result) override {
    if (!result) return E_POINTER;
    *result = static_cast<LONG>(items_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Remove(VARIANT index) override {
    size_t at = 0;
    HRESULT hr = Locate(index, &at);
    if (FAILED(hr)) return hr;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
    return S_OK;
  }

 private:
  struct Entry {
    Variant value;
    bool hasKey = false;
    std::u16string folded;
  };

  static const VARIANT* Plain(const VARIANT& v) {
    return v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? v.pvarVal : &v;
  }

  // A key is text; absent, empty and empty text all mean no key.
  static HRESULT KeyText(const VARIANT& key, std::u16string* text, bool* hasKey) {
    const VARIANT* k = Plain(key);
    *hasKey = false;
    if (k->vt == VT_EMPTY || (k->vt == VT_ERROR && k->scode == DISP_E_PARAMNOTFOUND)) return S_OK;
    if (k->vt == VT_BSTR || k->vt == (VT_BYREF | VT_BSTR)) {
      BSTR b = k->vt == VT_BSTR ? k->bstrVal : *k->pbstrVal;
      text->assign(b ? b : u"", SysStringLen(b));
      *hasKey = !text->empty();
      return S_OK;
    }
    return SetError(DISP_E_TYPEMISMATCH, u"A collection key must be text");
  }

  // The position named by a 1-based index or by a key.
  HRESULT Locate(const VARIANT& index, size_t* at) const {
    const VARIANT* v = Plain(index);
    if (v->vt == VT_BSTR || v->vt == (VT_BYREF | VT_BSTR)) {
      BSTR b = v->vt == VT_BSTR ? v->bstrVal : *v->pbstrVal;
      std::u16string folded = Fold(std::u16string_view(b ? b : u"", SysStringLen(b)));
      for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].hasKey && items_[i].folded == folded) {
          *at = i;
          return S_OK;
        }
      return SetError(COLLECTION_E_UNKNOWNKEY, u"No element of this collection has the key \"" +
                                                   std::u16string(b ? b : u"", SysStringLen(b)) +
                                                   u"\"");
    }
    Variant n;
    if (FAILED(VariantChangeType(n.Get(), v, 0, VT_I4)))
      return SetError(DISP_E_TYPEMISMATCH, u"A collection index is a number or a key");
    LONG i = n->lVal;
    if (i < 1 || static_cast<size_t>(i) > items_.size())
      return SetError(COLLECTION_E_BADINDEX, "Index " + std::to_string(i) +
                                                 " is out of range (the collection has " +
                                                 std::to_string(items_.size()) + " items)");
    *at = static_cast<size_t>(i - 1);
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  std::vector<Entry> items_;
};

}  // namespace

HRESULT CreateCollection(IDispatch** collection) {
  if (!collection) return E_POINTER;
  *collection = new Collection();
  return S_OK;
}

}  // namespace com
