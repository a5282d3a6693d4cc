/* SLIC superpixels (Achanta et al., IEEE TPAMI 34(11), 2012): the whole C interface.
 *
 * One handle per segmentation: NewSLIC, one DoSuperpixelSegmentation_ForGivenK, DeleteSLICHandle.
 * Distinct handles may be used concurrently from different threads; the library has no global
 * mutable state. No exception or error crosses this interface: bad input yields *numlabels = 0.
 */
#ifndef ORVIX_SLIC_H
#define ORVIX_SLIC_H

#include <stdint.h>

#if defined(_WIN32)
#define SLIC_API __declspec(dllexport)
#else
#define SLIC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque, pointer-sized. 0 means "no handle". */
typedef intptr_t SLICHandle;

/* A new segmentation object, or 0 when memory is exhausted. */
SLIC_API SLICHandle NewSLIC(void);

/* Segments a width x height image of 32-bit pixels 0x??RRGGBB (rows top to bottom; the upper byte
 * is ignored) into about K superpixels. The pixels are only read. On return labels[0 .. w*h-1]
 * (caller-allocated) holds labels 0 .. *numlabels - 1, each a 4-connected region, with no gaps.
 * Null pointers, width or height <= 0, K <= 0 or a non-finite compactness give *numlabels = 0
 * (when numlabels is not null) and leave labels untouched. K above the pixel count is clamped. */
SLIC_API void DoSuperpixelSegmentation_ForGivenK(SLICHandle handle, const uint32_t* pixels,
                                                 int32_t width, int32_t height, int32_t* labels,
                                                 int32_t* numlabels, int32_t K,
                                                 double compactness);

/* Releases a handle from NewSLIC; 0 is ignored. */
SLIC_API void DeleteSLICHandle(SLICHandle handle);

#ifdef __cplusplus
}
#endif

#endif
