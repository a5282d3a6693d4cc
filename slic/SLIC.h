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
 * compactness m weighs space against colour: D^2 = d_lab^2 + (d_xy / S)^2 m^2 with S the grid
 * interval sqrt(w*h / K) and d_lab in CIELAB units (typical m: 10 to 40; a negative m counts as
 * its magnitude, values above 1e6 as 1e6).
 * Handle 0 or one that is not a live handle from NewSLIC (as far as can be told), null pixels or
 * labels, width or height <= 0, w*h above INT32_MAX, K <= 0 or a non-finite compactness give
 * *numlabels = 0 (when numlabels is not null) and leave labels untouched; so does running out of
 * memory. K above the pixel count is clamped. The same input always gives the same labels. The
 * caller's floating-point environment (traps, rounding) is restored on return. */
SLIC_API void DoSuperpixelSegmentation_ForGivenK(SLICHandle handle, const uint32_t* pixels,
                                                 int32_t width, int32_t height, int32_t* labels,
                                                 int32_t* numlabels, int32_t K,
                                                 double compactness);

/* Releases a handle from NewSLIC; 0 and handles that are not live (as far as can be told) are
 * ignored. */
SLIC_API void DeleteSLICHandle(SLICHandle handle);

#ifdef __cplusplus
}
#endif

#endif
