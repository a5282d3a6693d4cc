// The study: every photograph of a study folder, grouped by tooth (TToothInTime, photographs in
// time order) and by tooth number (TTeeth), with the intake from a folder and the batch
// recalculation on the study's worker pool.
#pragma once

#include "TMultiThread.h"
#include "TTooth.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// One tooth across time points; owns its photographs.
class TToothInTime {
public:
    int32_t ID = 0; // the tooth number shared by all its photographs

    int32_t Count() const { return int32_t(fItems.size()); }
    TTooth* operator[](int32_t i) const { return fItems[size_t(i)].get(); }
    // Takes ownership and sets the photograph's Parent.
    TTooth* Add(std::unique_ptr<TTooth> Tooth);
    // The first photograph with that time point, or nullptr.
    TTooth* GetToothAt(int32_t TimePoint) const;
    // The alignment reference: the first photograph in list (after Sort: time) order, or nullptr.
    TTooth* First() const { return fItems.empty() ? nullptr : fItems.front().get(); }
    // tname of the first photograph; empty when there is none.
    QString Name() const;
    // By TimePoint, ascending; photographs sharing a time point keep their order.
    void Sort();

    auto begin() const { return fItems.begin(); }
    auto end() const { return fItems.end(); }

private:
    std::vector<std::unique_ptr<TTooth>> fItems;
};

// Orders of the two sorts: -1, 0 or 1 as Left's key is smaller, equal or greater.
struct TToothComparer {
    int Compare(const TToothInTime& Left, const TToothInTime& Right) const;
};
struct TTimeComparer {
    int Compare(const TTooth& Left, const TTooth& Right) const;
};

// A photograph the intake or a batch could not handle, with the reason.
struct TFailure {
    QString File;
    QString Message;
};

class TTeeth {
public:
    // NumberOfThreads 0: one worker per logical processor.
    explicit TTeeth(int32_t NumberOfThreads = 0);
    // Stops a run in progress (as AbortCalc) and waits only for the photographs being worked on.
    ~TTeeth();
    TTeeth(const TTeeth&) = delete;
    TTeeth& operator=(const TTeeth&) = delete;

    bool K9 = true;  // dog study; false for a cat study
    QString psina;   // the study folder's own name
    QString path;    // the study folder

    // List operations, in study order.
    int32_t Count() const { return int32_t(fItems.size()); }
    TToothInTime* operator[](int32_t i) const { return fItems[size_t(i)].get(); }
    void Clear();
    int32_t IndexOf(const TToothInTime* Series) const;
    auto begin() const { return fItems.begin(); }
    auto end() const { return fItems.end(); }
    int32_t PhotographCount() const;
    // The workers of the study's pool; the intake loads as many photographs at once.
    int32_t NumberOfThreads() const { return MT->NumberOfThreads; }

    // Takes in one photograph if its name follows the convention (character 1 free, 2-3 the tooth
    // number, 4-6 the time point): otherwise nothing happens. Throws the bitmap loader's error; a
    // photograph that fails to load leaves no trace in the study.
    void AddFile(const QString& fname);
    // Adds a loaded photograph to the series of its ID, creating the series when needed.
    void AddTooth(std::unique_ptr<TTooth> Tooth);
    TToothInTime* ByID(int32_t ID) const;
    // The photograph of TimePoint in the series at list index Number, or nullptr.
    TTooth* GetTooth(int32_t Number, int32_t TimePoint) const;
    int32_t GetToothIndex(const TTooth* Tooth) const;
    // Span from the earliest to the latest time point (time points 1 and 3 give 3); 0 when empty.
    int32_t MaxTimeCount() const;
    // The latest time point in the study, -1 when empty.
    int32_t LastTimePoint() const;
    void Sort();

    // Names every photograph for the species K9.
    void NameThem();
    // The species marker: path/feline.
    QString Feline() const;
    // Switches the species: the marker file follows (created empty for a cat, deleted for a dog),
    // then the teeth are renamed. Throws TOrvixError when the marker cannot be created or deleted.
    void SetSpecies(bool Dog);

    // Builds the study from a folder: the *.bmp files of its sub-folders, one level down, sorted
    // and named. Files that cannot be read are skipped and returned with their errors. Photographs
    // load in parallel, one per worker of the study; progress is reported on the calling thread.
    // Stop (may be null) is polled between files and ends the intake early, the study then holding
    // what was read so far. Must not be called during a batch run.
    using TOnLoadProgress = std::function<void(int32_t Done, int32_t Total)>;
    // psina is the folder's real name also when Folder is "." or "..".
    // A photograph's pixel data are let go once it is in (see TPixelLease); with a thumbnail cache
    // in use, a photograph whose files are as the cache knows them is not decoded at all.
    // OnPhotograph, when set, is called on a loading thread for every photograph taken in, before it
    // joins the study: it may read what stays of a photograph without pixel data, and only then.
    using TOnPhotographLoaded = std::function<void(const TTooth& Tooth)>;
    std::vector<TFailure> LoadFolder(const QString& Folder, const TOnLoadProgress& OnProgress = {},
                                     const std::atomic<bool>* Stop = nullptr,
                                     const TOnPhotographLoaded& OnPhotograph = {});
    // What the last LoadFolder noticed about photographs it took in, one line each: every tooth and
    // time point with more than one photograph (with their files; the table, the chart and the
    // export use the first in listing order), and every result file that was not used (damaged, or
    // describing another photograph).
    const QStringList& IntakeNotes() const { return fIntakeNotes; }
    // false: the intake checks photographs without a result file (or a cache entry) from their
    // header only, and they are decoded when first leased, so that a batch about to process them
    // decodes each once; they have no thumbnail until then. For tools without a table to show.
    bool DecodeOnIntake = true;

    // Batch recalculation. Starts an asynchronous run on the study's pool over the photographs the
    // command asks for: OnlyNew takes those not yet calculated (or, with Align, not yet aligned);
    // Align aligns each onto its tooth's first photograph (Deform frees the scales) before it is
    // segmented, classified, measured and saved with the four process-wide defaults, read per
    // photograph. Returns true when a run started; false, with nothing changed and Onterminate
    // never called, when the study is empty, nothing qualifies or a run is in progress.
    // Onterminate(Success) arrives on the thread that created the study, through its Qt event
    // loop; Success is false when the run was stopped or any photograph failed. A photograph that
    // fails is recorded (Failures) and the run goes on with the next.
    // Align alone restores the stored alignment of photographs already aligned (NelmDone) without
    // fitting them; Refit (with Align) fits every photograph of the run again from its current
    // transform, as the editor's "Realign" does.
    // UI thread (the creating thread) only.
    bool RecalculateDefault(bool OnlyNew, bool Align, bool Deform, TOnTerminate Onterminate, bool Refit = false);
    // Asks the run to stop: photographs in progress finish, no new one starts. Returns at once.
    void AbortCalc();
    bool Running() const { return fRunning; }
    // Called on the study's thread, through its event loop, for every photograph of a run that a
    // worker has finished (failed ones too), in the order they finished. The photograph is no
    // longer being worked on when the call arrives; notifications still queued when the study is
    // destroyed are dropped. Calls of one run all arrive before its Onterminate.
    using TOnToothDone = std::function<void(TTooth* Tooth)>;
    TOnToothDone OnToothDone;
    // The photographs that failed in the last run, in the order they failed.
    std::vector<TFailure> Failures() const;
    // Alignment quality of an aligned later photograph against its tooth's first photograph (1 is
    // a perfect match); NaN for a first photograph, an unaligned one, or one without a tooth.
    // Known from the alignment or the intake; otherwise measured, loading both photographs.
    static double AlignQuality(const TTooth& Tooth);

    std::atomic<int32_t> CalcCount{0}; // photographs completed in the current run
    int32_t CalcTotal = 0;             // photographs in the current run

private:
    void CalcItems(int32_t Index, int32_t Size);
    void DoTerminateCalc(bool Success);

    void NoteIntake();

    std::vector<std::unique_ptr<TToothInTime>> fItems;
    QStringList fIntakeNotes;
    std::unique_ptr<TMultiThread> MT;
    std::atomic<bool> Aborted{false};
    bool Alignaswell = false;
    bool Refitting = false;
    bool Deformation = false;
    bool fRunning = false;
    TOnTerminate OnTerminateCalc;
    std::vector<TTooth*> ToothVector; // the run's photographs, not owned
    mutable std::mutex fFailureLock;
    std::vector<TFailure> fFailures;
};

// Reads the tooth number and time point from a file name; false when it does not follow the
// convention.
bool ParseToothFileName(const QString& FileName, int32_t& ID, int32_t& TimePoint);
