// Opening an image file for reading and telling its format from its first bytes.
#pragma once

namespace imaging {

enum class FileFormat { kTiff, kBmp };

// Opens a regular file for reading without blocking (a FIFO or a folder is refused).
// Returns IMG_SUCCESS with *fd set, or a failure code with its detail.
int OpenForRead(const char* fileName, int* fd);

// Reads the signature at the start of fd. Returns IMG_SUCCESS with *format set, or
// IMG_ERR_NOT_AN_IMAGE / IMG_ERR_CANNOT_READ.
int SniffFormat(int fd, FileFormat* format);

}  // namespace imaging
