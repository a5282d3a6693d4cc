// Placeholder until the segmentation lands: every call produces no superpixel.
#include "SLIC.h"

extern "C" {

SLICHandle NewSLIC(void)
{
    return 0;
}

void DoSuperpixelSegmentation_ForGivenK(SLICHandle, const uint32_t*, int32_t, int32_t, int32_t*,
                                        int32_t* numlabels, int32_t, double)
{
    if (numlabels)
        *numlabels = 0;
}

void DeleteSLICHandle(SLICHandle) {}
}
