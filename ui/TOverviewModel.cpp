#include "TOverviewModel.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

TThumb MakeThumb(const TTooth& Tooth, bool WithQuality)
{
    TThumb t;
    t.Image = Tooth.Thumbnail(512);
    t.ImageSize = QSize(Tooth.Width(), Tooth.Height());
    if (WithQuality)
        t.Quality = TTeeth::AlignQuality(Tooth);
    return t;
}

TOverviewModel::TOverviewModel(QObject* parent) : QAbstractTableModel(parent) {}

void TOverviewModel::SetStudy(const TTeeth* Teeth, std::vector<std::pair<const TTooth*, TThumb>> Thumbs)
{
    beginResetModel();
    fTeeth = Teeth;
    fCells.clear();
    fLoading.clear();
    fLoadingIDs.clear();
    for (auto& [tooth, thumb] : Thumbs)
        fCells[tooth].Thumb = std::move(thumb);
    if (Teeth)
        fEverLoaded = true;
    // Every time point from 0 to the latest has its row, also when the study starts later.
    fRows = Teeth ? Teeth->LastTimePoint() + 1 : 0;
    fNames.clear();
    if (Teeth)
        for (const auto& series : *Teeth)
            fNames << series->Name();
    endResetModel();
}

void TOverviewModel::AddLoading(int32_t ID, int32_t TimePoint, TThumb Thumb)
{
    if (fTeeth || TimePoint < 0 || fLoading.count({ID, TimePoint}))
        return;
    if (!fEverLoaded) {
        // The empty starting grid gives way to the study's own.
        beginResetModel();
        fEverLoaded = true;
        fRows = 0;
        fNames.clear();
        endResetModel();
    }
    const auto at = std::lower_bound(fLoadingIDs.begin(), fLoadingIDs.end(), ID);
    const int column = int(at - fLoadingIDs.begin());
    if (at == fLoadingIDs.end() || *at != ID) {
        beginInsertColumns({}, column, column);
        fLoadingIDs.insert(at, ID);
        fNames.insert(column, QString::number(ID));
        endInsertColumns();
    }
    if (TimePoint >= fRows) {
        beginInsertRows({}, fRows, TimePoint);
        fRows = TimePoint + 1;
        endInsertRows();
    }
    fLoading[{ID, TimePoint}].Thumb = std::move(Thumb);
    emit dataChanged(index(TimePoint, column), index(TimePoint, column));
}

void TOverviewModel::Renamed()
{
    if (!fTeeth)
        return;
    fNames.clear();
    for (const auto& series : *fTeeth)
        fNames << series->Name();
    if (!fNames.isEmpty())
        emit headerDataChanged(Qt::Horizontal, 0, int(fNames.size()) - 1);
}

void TOverviewModel::SetThumb(const TTooth* Tooth, TThumb Thumb)
{
    TCell& cell = fCells[Tooth];
    cell.Thumb = std::move(Thumb);
    cell.Scaled = {};
    const QModelIndex index = IndexOf(Tooth);
    if (index.isValid())
        emit dataChanged(index, index);
}

void TOverviewModel::SetFailure(const TTooth* Tooth, const QString& Message)
{
    auto it = fCells.find(Tooth);
    if (it == fCells.end())
        return;
    it->second.Thumb.Failure = Message;
    const QModelIndex index = IndexOf(Tooth);
    if (index.isValid())
        emit dataChanged(index, index);
}

const TThumb* TOverviewModel::Thumb(const TTooth* Tooth) const
{
    auto it = fCells.find(Tooth);
    return it == fCells.end() ? nullptr : &it->second.Thumb;
}

TTooth* TOverviewModel::ToothAt(const QModelIndex& index) const
{
    if (!fTeeth || !index.isValid())
        return nullptr;
    return fTeeth->GetTooth(index.column(), index.row());
}

QModelIndex TOverviewModel::IndexOf(const TTooth* Tooth) const
{
    if (!fTeeth || !Tooth)
        return {};
    const int32_t column = fTeeth->GetToothIndex(Tooth);
    // A second photograph at the same time point has no cell of its own.
    if (column < 0 || fTeeth->GetTooth(column, Tooth->TimePoint) != Tooth)
        return {};
    return index(Tooth->TimePoint, column);
}

const TOverviewModel::TCell* TOverviewModel::Cell(const QModelIndex& index) const
{
    if (!fTeeth && index.isValid() && size_t(index.column()) < fLoadingIDs.size()) {
        auto it = fLoading.find({fLoadingIDs[size_t(index.column())], index.row()});
        return it == fLoading.end() ? nullptr : &it->second;
    }
    const TTooth* tooth = ToothAt(index);
    if (!tooth)
        return nullptr;
    auto it = fCells.find(tooth);
    return it == fCells.end() ? nullptr : &it->second;
}

QPixmap TOverviewModel::Scaled(const QModelIndex& index, QSize Size) const
{
    const TCell* cell = Cell(index);
    if (!cell || cell->Thumb.Image.isNull() || Size.isEmpty())
        return {};
    if (cell->Scaled.size() != Size)
        cell->Scaled = QPixmap::fromImage(
            cell->Thumb.Image.scaled(Size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return cell->Scaled;
}

int TOverviewModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    // An empty four-by-four grid until the first study is shown.
    return fEverLoaded ? fRows : 4;
}

int TOverviewModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return fEverLoaded ? int(fNames.size()) : 4;
}

QVariant TOverviewModel::data(const QModelIndex& index, int role) const
{
    const TCell* cell = Cell(index);
    if (!cell)
        return {};
    const TThumb& t = cell->Thumb;
    const bool doubtful = !std::isnan(t.Quality) && t.Quality < DoubtfulQuality;
    switch (role) {
    case ThumbRole:
        return t.Image;
    case ImageSizeRole:
        return t.ImageSize;
    case FailureRole:
        return t.Failure;
    case QualityRole:
        return t.Quality;
    case DoubtfulRole:
        return doubtful;
    case Qt::ToolTipRole: {
        const TTooth* tooth = ToothAt(index);
        QStringList lines{tooth ? tooth->fname : QString()};
        if (!t.Failure.isEmpty())
            lines << "Failed: " + t.Failure;
        if (!std::isnan(t.Quality))
            lines << QString("Alignment quality %1%2")
                         .arg(QLocale::system().toString(t.Quality, 'f', 3),
                              doubtful ? QString(" (below %1): check the alignment")
                                             .arg(QLocale::system().toString(DoubtfulQuality))
                                       : QString());
        return lines.join('\n');
    }
    default:
        return {};
    }
}

QVariant TOverviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !fEverLoaded)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < fNames.size() ? fNames.at(section) : QVariant();
    return QString::number(section);
}

Qt::ItemFlags TOverviewModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const auto* model = qobject_cast<const TOverviewModel*>(index.model());
    const QSize imageSize = index.data(TOverviewModel::ImageSizeRole).toSize();
    if (!model || imageSize.isEmpty())
        return;
    const QRect cell = option.rect;
    const TRect r = ProportionalRect({cell.left(), cell.top(), cell.left() + cell.width(), cell.top() + cell.height()},
                                     imageSize.width(), imageSize.height());
    const QRect target(r.Left, r.Top, r.Width(), r.Height());
    const QPixmap pixmap = model->Scaled(index, target.size());
    if (!pixmap.isNull())
        painter->drawPixmap(target.topLeft(), pixmap);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (index.data(TOverviewModel::DoubtfulRole).toBool()) {
        painter->setPen(QPen(QColor(255, 170, 0), 3));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(target.adjusted(1, 1, -2, -2));
    }
    if (!index.data(TOverviewModel::FailureRole).toString().isEmpty()) {
        const int s = std::max(8, std::min(cell.width(), cell.height()) / 5);
        QPainterPath corner;
        corner.moveTo(cell.right() + 1 - s, cell.top());
        corner.lineTo(cell.right() + 1, cell.top());
        corner.lineTo(cell.right() + 1, cell.top() + s);
        corner.closeSubpath();
        painter->fillPath(corner, QColor(220, 0, 0));
    }
    painter->restore();
}
