// Encodes the display as a TIFF file in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"
#include "options.h"

namespace sim {

// Throws std::runtime_error when libtiff fails.
std::vector<std::uint8_t> EncodeTiff(const Canvas& canvas, TiffKind kind, Compression compression,
                                     const std::string& software);

}  // namespace sim
