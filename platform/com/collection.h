// The keyed collection: an automation object with Add(item, [key]), Item(index or key)
// as its default member, Count and Remove(index or key). Indices start at 1; keys are
// text compared without regard to case.
#pragma once

#include "com/automation.h"

// The collection's errors, with the numbers automation clients know them by.
constexpr HRESULT COLLECTION_E_BADINDEX = MAKE_HRESULT(1, 10, 9);        // subscript out of range
constexpr HRESULT COLLECTION_E_UNKNOWNKEY = MAKE_HRESULT(1, 10, 5);      // no item with that key
constexpr HRESULT COLLECTION_E_DUPLICATEKEY = MAKE_HRESULT(1, 10, 457);  // key already used

inline constexpr IID IID_Collection = com::Guid("{F406B9AF-B5DC-4131-9738-C29D1701D3AB}");

namespace com {
// A new, empty collection.
HRESULT CreateCollection(IDispatch** collection);
}  // namespace com
