// Result codes and the per-thread detail text of the last failure.
#pragma once

#include <string>

#include "imaging/imaging.h"

namespace imaging {

// Records the detail of a failure for ImgLastErrorDetail and returns the code.
int Fail(int code, std::string detail);

// Clears the detail at the start of a call.
void ClearError();

// The current detail text.
const std::string& LastDetail();

}  // namespace imaging
