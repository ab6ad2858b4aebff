// A path argument as the imaging library takes it: narrowed to the system code page.
#pragma once

#include <optional>
#include <string>

#include "com/base.h"

// Copies the wide text up to its first zero; a null text stays null. The narrow form is
// made on first use: a character that the code page lacks becomes its default character.
class NarrowPath {
 public:
  explicit NarrowPath(const OLECHAR* wide);
  // Null for a null text. Throws PathError when the conversion fails, std::bad_alloc when
  // memory runs out.
  const char* Narrow();

 private:
  std::optional<std::u16string> wide_;
  std::optional<std::string> narrow_;
};

struct PathError {
  HRESULT hr;
};
