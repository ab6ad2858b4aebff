/* Imaging library: load a bitmap from a TIFF or BMP file, save it as a Windows bitmap file,
 * free it. A C interface so that any component can bind to it at load time.
 *
 * Every call returns IMG_SUCCESS (1) on success and a negative IMG_ERR_* code on failure;
 * ImgErrorText gives the text of a code and ImgLastErrorDetail the details of the last
 * failure on the calling thread (for example libtiff's own message). */
#ifndef SCRIVO_IMAGING_IMAGING_H
#define SCRIVO_IMAGING_IMAGING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define IMG_API __attribute__((visibility("default")))
#else
#define IMG_API
#endif

#define IMG_SUCCESS 1

#define IMG_ERR_BAD_ARGUMENT (-1)        /* null handle, null or empty file name, bad option */
#define IMG_ERR_FILE_NOT_FOUND (-2)      /* no file of that name */
#define IMG_ERR_CANNOT_READ (-3)         /* exists but cannot be read: a folder, a FIFO, ... */
#define IMG_ERR_NOT_AN_IMAGE (-4)        /* not a TIFF or BMP file */
#define IMG_ERR_CORRUPT (-5)             /* corrupt or truncated image */
#define IMG_ERR_UNSUPPORTED_DEPTH (-6)   /* a depth or sample layout this library does not handle */
#define IMG_ERR_TOO_LARGE (-7)           /* more pixels than the size limit */
#define IMG_ERR_NO_MEMORY (-8)           /* allocation failed */
#define IMG_ERR_CANNOT_WRITE (-9)        /* target folder missing, target is a folder, disk full */
#define IMG_ERR_UNSUPPORTED_FORMAT (-10) /* save format code other than IMG_FORMAT_BMP */
#define IMG_ERR_NOT_LOADED (-11)         /* the handle holds no image */

/* Save format codes. */
#define IMG_FORMAT_BMP 6

/* Colour order of 24-bit pixels in memory (load's colour order argument). */
#define IMG_ORDER_DEFAULT 0 /* same as IMG_ORDER_BGR */
#define IMG_ORDER_BGR 1
#define IMG_ORDER_RGB 2

/* Quality factor of save: the default is the only one. */
#define IMG_QUALITY_DEFAULT (-1)

/* Default size limit for load, in pixels (1 GiB of pixels). */
#define IMG_DEFAULT_MAX_PIXELS (1ull << 30)

typedef struct ImgRgbQuad {
  uint8_t Blue;
  uint8_t Green;
  uint8_t Red;
  uint8_t Reserved;
} ImgRgbQuad;

/* A loaded image. Load fills it (it need not be initialised beforehand); the caller must
 * not change it, only pass its address to save and free. Pixels are rows top-down, Stride
 * bytes apart: 8 bits per pixel are indices into Palette (PaletteCount entries), 24 bits
 * per pixel are three bytes in ColorOrder. */
typedef struct ImgBitmap {
  int32_t Width;
  int32_t Height;
  int32_t BitsPerPixel;       /* 8 or 24 */
  int32_t ColorOrder;         /* IMG_ORDER_BGR or IMG_ORDER_RGB */
  int32_t SourceBitsPerPixel; /* depth of the file it came from */
  uint32_t PaletteCount;
  ImgRgbQuad Palette[256];
  size_t Stride;
  uint8_t* Bits;
} ImgBitmap;

/* Loads the first image of a TIFF or BMP file wholly into *bitmap. bitsPerPixel 0 keeps the
 * file's own depth, 24 gives true colour, 8 (4, 1) reduces to 256 (16, 2) colours or fewer;
 * colorOrder is an IMG_ORDER_* value; loadOptions must be 0. On failure *bitmap holds no
 * image (free on it is harmless). */
IMG_API int ImgLoadBitmap(const char* fileName, ImgBitmap* bitmap, int bitsPerPixel, int colorOrder,
                          int loadOptions);

/* Writes *bitmap as a Windows bitmap file (format IMG_FORMAT_BMP) of 1, 4, 8 or 24 bits per
 * pixel. The target is replaced atomically: a failed save leaves any old file untouched.
 * qualityFactor must be IMG_QUALITY_DEFAULT and saveOptions 0. */
IMG_API int ImgSaveBitmap(const char* fileName, ImgBitmap* bitmap, int format, int bitsPerPixel,
                          int qualityFactor, int saveOptions);

/* Releases the image memory of *bitmap and empties it. Harmless on a handle that holds no
 * image, whether never loaded or freed already. */
IMG_API int ImgFreeBitmap(ImgBitmap* bitmap);

/* The text of a result code; never null. */
IMG_API const char* ImgErrorText(int code);

/* Details of the last failure on the calling thread; empty after a success. */
IMG_API const char* ImgLastErrorDetail(void);

/* Size limit of load in pixels (width times height); 0 restores the default. Returns the
 * previous limit. Process-wide. */
IMG_API uint64_t ImgSetMaxPixels(uint64_t maxPixels);
IMG_API uint64_t ImgGetMaxPixels(void);

#ifdef __cplusplus
}
#endif

#endif
