// Case folding for registry names: names compare case-insensitively but keep the case
// they were first written with.
#pragma once

#include <string>
#include <string_view>

namespace com::regstore {

// Simple case folding (one unit to one unit) for Basic Latin, Latin-1, Latin Extended-A,
// Greek and Cyrillic; every other unit is its own fold.
char16_t FoldChar(char16_t c);
std::u16string FoldName(std::u16string_view name);
// The same for a UTF-8 name, quick when it is plain ASCII.
std::string FoldUtf8(std::string_view name);

}  // namespace com::regstore
