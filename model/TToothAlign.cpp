// Alignment of a photograph onto the first photograph of its tooth.
#include "TTooth.h"

namespace {

bool SameGeometry(const TTransPars& a, const TTransPars& b)
{
    return a.fAngle == b.fAngle && a.Shiftx == b.Shiftx && a.Shifty == b.Shifty && a.Scalex == b.Scalex &&
           a.Scaley == b.Scaley;
}

} // namespace

void TTooth::Superpose(bool Deform, const TOnShow& Showproc, const TTooth* Reference)
{
    if (!Reference)
        return;
    // The reference is checked before the restore: restoring it could rewrite its Image while
    // other workers' fits read it, and the first photograph keeps its transform anyway.
    if (Reference == this) {
        NelmDone = true;
        return;
    }
    if (NelmDone) {
        // Image always shows Raw through TransPars: the batch segments and saves it as it stands.
        const bool moved = !SameGeometry(TransPars, NELMPars);
        TransPars = NELMPars;
        if (moved)
            Raw.Transform(TransPars, Image);
        DrawDirty();
        KnowQuality(*Reference, AlignmentQuality(*Reference));
        return;
    }
    // Fitted on a copy, so that a failed fit leaves the photograph as it was.
    TTransPars pars = TransPars;
    const TSuperpose fit(Reference->Image, Raw, pars, Deform, Showproc);
    TransPars = pars;
    Raw.Transform(TransPars, Image);
    NELMPars = TransPars;
    DrawDirty();
    NelmDone = true;
    // Measured here, where both photographs are in memory, so that the table and the command line
    // need not load them again for it.
    KnowQuality(*Reference, AlignmentQuality(*Reference));
}

double TTooth::AlignmentQuality(const TTooth& reference) const
{
    return AlignmentCorrelation(reference.Image, Image);
}
