// The overview table's model: one column per tooth (study order), one row per time point from 0 to
// the study's latest, each cell a thumbnail of that photograph. Thumbnails are kept here, made when
// a study is loaded and when the batch reports a photograph finished, so that painting never reads
// a photograph that a worker may be changing.
#pragma once

#include "TTeeth.h"

#include <QAbstractTableModel>
#include <QImage>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <map>
#include <unordered_map>

// What a cell shows of its photograph.
struct TThumb {
    QImage Image;     // Contour scaled to at most 512 pixels on its longer side
    QSize ImageSize;  // of the photograph's Image, for the thumbnail's proportions
    QString Failure;  // why the last run could not process the photograph; empty when it could
    double Quality = std::numeric_limits<double>::quiet_NaN(); // alignment quality, NaN when none
};

// A photograph's thumbnail as the table shows it, with its alignment quality when WithQuality.
// Reads only what a worker is done with.
TThumb MakeThumb(const TTooth& Tooth, bool WithQuality = true);

class TOverviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TRole { ThumbRole = Qt::UserRole + 1, ImageSizeRole, FailureRole, QualityRole, DoubtfulRole };

    explicit TOverviewModel(QObject* parent = nullptr);

    // Shows Teeth (not owned; nullptr detaches, as while a study is being rebuilt) with the
    // thumbnails made for it. The names come from the study's teeth.
    void SetStudy(const TTeeth* Teeth, std::vector<std::pair<const TTooth*, TThumb>> Thumbs);
    const TTeeth* Study() const { return fTeeth; }
    // While a study is being taken in (no study shown): a cell for the photograph of tooth ID at
    // TimePoint, with the tooth number as its column's title, so that the table fills as photographs
    // are read. The first photograph of a cell stays. SetStudy ends this.
    void AddLoading(int32_t ID, int32_t TimePoint, TThumb Thumb);
    // Rereads the tooth names into the header.
    void Renamed();
    // New thumbnail of one photograph; refreshes only its cell.
    void SetThumb(const TTooth* Tooth, TThumb Thumb);
    void SetFailure(const TTooth* Tooth, const QString& Message);
    const TThumb* Thumb(const TTooth* Tooth) const;
    // The photograph a cell shows, or nullptr.
    TTooth* ToothAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const TTooth* Tooth) const;
    // The thumbnail of a cell smoothly scaled to Size, cached until the thumbnail or the size changes.
    QPixmap Scaled(const QModelIndex& index, QSize Size) const;

    // Below this an aligned later photograph is marked as a doubtful fit (as orvix-batch names it).
    double DoubtfulQuality = DoubtfulAlignQuality;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct TCell {
        TThumb Thumb;
        mutable QPixmap Scaled;
    };
    const TCell* Cell(const QModelIndex& index) const;

    const TTeeth* fTeeth = nullptr;
    std::vector<int32_t> fLoadingIDs; // columns while a study is being taken in
    std::map<std::pair<int32_t, int32_t>, TCell> fLoading; // by tooth number and time point
    bool fEverLoaded = false;
    int fRows = 0;
    QStringList fNames;
    std::unordered_map<const TTooth*, TCell> fCells;
};

// Draws a cell's thumbnail centred in proportion, with a red corner for a failed photograph and an
// amber frame for a doubtful alignment.
class TThumbnailDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
