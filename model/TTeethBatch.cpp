// The batch recalculation of a study on its worker pool.
#include "DefaultIniFile.h"
#include "TTeeth.h"

#include <cmath>
#include <limits>

void TTooth::Superpose(bool Deform, const TOnShow& Showproc)
{
    Superpose(Deform, Showproc, Parent ? Parent->First() : nullptr);
}

double TTeeth::AlignQuality(const TTooth& Tooth)
{
    const TTooth* reference = Tooth.Parent ? Tooth.Parent->First() : nullptr;
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (!Tooth.NelmDone || !reference || reference == &Tooth)
        return none;
    const double known = Tooth.KnownQuality(*reference);
    if (!std::isnan(known))
        return known;
    try {
        const TPixelLease own = Tooth.Lease(), other = reference->Lease();
        const double q = Tooth.AlignmentQuality(*reference);
        Tooth.KnowQuality(*reference, q);
        return q;
    } catch (const std::exception&) {
        return none; // a photograph that cannot be read any more has no quality to show
    }
}

TTeeth::~TTeeth()
{
    // Workers must be idle before the photographs they hold go; they finish only the photograph
    // in hand.
    AbortCalc();
    // Idle before the pointer goes: reset() clears it before the pool's destructor waits, and a
    // worker finishing its photograph still reads it to post its notice.
    if (MT)
        MT->Stop();
    MT.reset();
}

bool TTeeth::RecalculateDefault(bool OnlyNew, bool Align, bool Deform, TOnTerminate Onterminate, bool Refit)
{
    // The work list is shared with the workers until the run has ended.
    if (fRunning)
        return false;
    Aborted = false;
    CalcCount = 0;
    Deformation = Deform;
    // Sized by the photographs, not by teeth x time points: two photographs of one tooth at one
    // time point must not overrun it.
    std::vector<TTooth*> list;
    list.reserve(size_t(PhotographCount()));
    for (const auto& series : fItems)
        for (const auto& t : *series)
            if (!(OnlyNew && t->Done() && (!Align || t->NelmDone)))
                list.push_back(t.get());
    if (list.empty())
        return false;
    ToothVector = std::move(list);
    Alignaswell = Align;
    Refitting = Align && Refit;
    CalcTotal = int32_t(ToothVector.size());
    {
        std::lock_guard lock(fFailureLock);
        fFailures.clear();
    }
    OnTerminateCalc = std::move(Onterminate);
    MT->OnTerminate = [this](bool Success) { DoTerminateCalc(Success); };
    MT->ProcessItem = [this](int32_t Index, int32_t Size) { CalcItems(Index, Size); };
    fRunning = true;
    MT->Run(CalcTotal, 0);
    return true;
}

void TTeeth::AbortCalc()
{
    Aborted = true;
    if (MT)
        MT->Aborted = true;
}

std::vector<TFailure> TTeeth::Failures() const
{
    std::lock_guard lock(fFailureLock);
    return fFailures;
}

void TTeeth::CalcItems(int32_t Index, int32_t Size)
{
    // A worker keeps the reference of its tooth in memory until it moves on to another tooth: a
    // block holds a tooth's photographs one after the other, so each reference is loaded about
    // once, and the run holds at most two photographs per worker.
    TPixelLease reference;
    for (int32_t i = Index; i < Index + Size; ++i) {
        TTooth* tooth = ToothVector[size_t(i)];
        // One photograph that fails must not end the rest of this worker's block.
        try {
            const TTooth* first = Alignaswell && tooth->Parent ? tooth->Parent->First() : nullptr;
            if (reference.get() != first) {
                reference.reset();
                if (first && first != tooth)
                    reference = first->Lease();
            }
            const TPixelLease lease = tooth->Lease();
            if (Refitting)
                tooth->NelmDone = false; // Superpose then fits from the current transform
            if (Alignaswell)
                tooth->Superpose(Deformation, {});
            tooth->DoSuperpixel(DefaultSPNumber.load(), DefaultCompactness.load(), DefaultBGThreshold.load(),
                                DefaultRGThreshold.load());
            if (tooth->Black())
                throw TOrvixError("the photograph is black");
        } catch (const std::bad_alloc&) {
            std::lock_guard lock(fFailureLock);
            fFailures.push_back({tooth->fname, "out of memory"});
        } catch (const std::exception& e) {
            std::lock_guard lock(fFailureLock);
            fFailures.push_back({tooth->fname, QString::fromStdString(e.what())});
        } catch (...) {
            std::lock_guard lock(fFailureLock);
            fFailures.push_back({tooth->fname, "unknown error"});
        }
        // Queued on the pool's object, so it shares the terminate notice's queue and goes with it.
        QMetaObject::invokeMethod(
            MT.get(), [this, tooth] { if (OnToothDone) OnToothDone(tooth); }, Qt::QueuedConnection);
        if (Aborted)
            return;
        ++CalcCount;
    }
}

void TTeeth::DoTerminateCalc(bool Success)
{
    fRunning = false;
    bool failed;
    {
        std::lock_guard lock(fFailureLock);
        failed = !fFailures.empty();
    }
    if (OnTerminateCalc)
        OnTerminateCalc(Success && !failed);
}
