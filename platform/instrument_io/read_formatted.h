// How ReadFormatted stores a reply in the caller's variant:
//   "K"  into a string (VT_BSTR, VT_EMPTY, VT_BYREF|VT_BSTR): the whole reply as text;
//   "K"  into an array of strings or variants (possibly by reference): the comma-separated
//        fields from the array's first element on, missing ones empty, extra ones dropped;
//   "I1" into an empty variant or a byte array (possibly by reference): the block's bytes as
//        a new array of VT_UI1 with lower bound 0.
// A by-reference variant (VT_BYREF|VT_VARIANT) stands for the variant it refers to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/automation.h"
#include "instrument_io/connection.h"

namespace instrument_io {

struct ReadPlan {
  enum Kind { kText, kFields, kBytes } kind = kText;
  VARIANT* target = nullptr;
};

// Checks the format and the variant before anything is read; on failure `why` says why.
HRESULT PlanRead(VARIANT* data, BSTR format, ReadPlan* plan, std::string* why);
HRESULT StoreText(const ReadPlan& plan, const std::string& reply);
// Receives an "I1" block straight into a new byte array, then stores it in the variant.
class ByteArraySink : public BlockSink {
 public:
  ~ByteArraySink();
  uint8_t* Allocate(size_t length) override;  // throws std::bad_alloc
  void Store(const ReadPlan& plan);

 private:
  SAFEARRAY* array_ = nullptr;
};

// Instrument text is bytes; each byte is the character of that code (ISO 8859-1).
BSTR BytesToBstr(const std::string& bytes);
// Fails on a character above 255, which no byte can carry.
bool BstrToBytes(const OLECHAR* text, size_t length, std::string* bytes);

}  // namespace instrument_io
