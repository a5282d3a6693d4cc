#include "TImageView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>

// The widget inside the scroll area: the picture at the view's zoom.
class TImageCanvas : public QWidget {
public:
    explicit TImageCanvas(TImageView* view) : fView(view)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        const QImage& image = fView->fImage;
        const double zoom = fView->fZoom;
        // Only the exposed part is scaled, by nearest neighbour, so that every picture pixel stays
        // a sharp square at any zoom and a hover repaint costs little.
        const QRectF target = QRectF(event->rect()).intersected(QRectF(QPointF(0, 0), size()));
        painter.fillRect(event->rect(), palette().dark());
        if (image.isNull() || target.isEmpty())
            return;
        const QRectF source(target.topLeft() / zoom, target.size() / zoom);
        painter.drawImage(target, image, source);
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        emit fView->MouseDown(event->button(), fView->PixelAt(event->position()));
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        emit fView->MouseMove(fView->PixelAt(event->position()));
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        emit fView->MouseUp(event->button(), fView->PixelAt(event->position()));
    }

private:
    TImageView* fView;
};

TImageView::TImageView(QWidget* parent) : QScrollArea(parent)
{
    fCanvas = new TImageCanvas(this);
    // A click on the picture takes the keyboard focus from the edits, so that the editor's keys
    // (undo, zoom) act on the picture again.
    fCanvas->setFocusPolicy(Qt::ClickFocus);
    fCanvas->setFocusProxy(this);
    setFocusPolicy(Qt::StrongFocus);
    setWidget(fCanvas);
    setWidgetResizable(false);
    setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);
}

QWidget* TImageView::Canvas() const { return fCanvas; }

void TImageView::SetImage(const QImage& Image)
{
    const bool resized = Image.size() != fImage.size();
    fImage = Image;
    if (resized) {
        if (fFit)
            FitToWindow();
        else
            ApplyZoom(fZoom, {});
    }
    fCanvas->update();
}

QPoint TImageView::PixelAt(QPointF CanvasPos) const
{
    return QPoint(int(std::floor(CanvasPos.x() / fZoom)), int(std::floor(CanvasPos.y() / fZoom)));
}

QPoint TImageView::CanvasPos(QPoint Pixel) const
{
    return QPoint(int(std::floor((Pixel.x() + 0.5) * fZoom)), int(std::floor((Pixel.y() + 0.5) * fZoom)));
}

double TImageView::FitZoom() const
{
    if (fImage.isNull())
        return 1;
    // The scroll bars stay hidden when the picture fits, so the whole viewport is available.
    const QSize room = maximumViewportSize();
    const double fit = std::min(double(room.width()) / fImage.width(), double(room.height()) / fImage.height());
    return std::clamp(fit, MinZoom, MaxZoom);
}

void TImageView::SetZoom(double Zoom)
{
    fFit = false;
    ApplyZoom(Zoom, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

void TImageView::FitToWindow()
{
    fFit = true;
    ApplyZoom(FitZoom(), {});
}

void TImageView::ZoomIn() { SetZoom(fZoom * std::sqrt(2.0)); }
void TImageView::ZoomOut() { SetZoom(fZoom / std::sqrt(2.0)); }

void TImageView::ApplyZoom(double Zoom, QPointF Anchor)
{
    Zoom = std::clamp(Zoom, MinZoom, MaxZoom);
    // Steps of the square root of 2 land on 100 % again instead of drifting past it.
    if (std::abs(Zoom - 1) < 1e-9)
        Zoom = 1;
    // The picture point under Anchor (viewport coordinates) stays under it.
    const QPointF canvasAt = Anchor - QPointF(fCanvas->pos());
    const QPointF picturePoint = canvasAt / fZoom;
    const bool changed = Zoom != fZoom;
    fZoom = Zoom;
    if (fImage.isNull())
        fCanvas->resize(0, 0);
    else
        fCanvas->resize(int(std::ceil(fImage.width() * fZoom)), int(std::ceil(fImage.height() * fZoom)));
    horizontalScrollBar()->setValue(int(std::lround(picturePoint.x() * fZoom - Anchor.x())));
    verticalScrollBar()->setValue(int(std::lround(picturePoint.y() * fZoom - Anchor.y())));
    fCanvas->update();
    if (changed)
        emit ZoomChanged(fZoom);
}

void TImageView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    if (fFit)
        ApplyZoom(FitZoom(), {});
}

void TImageView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QScrollArea::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0)
        return;
    fFit = false;
    const QPointF anchor = viewport()->mapFrom(this, event->position().toPoint());
    ApplyZoom(fZoom * std::pow(std::sqrt(2.0), steps), anchor);
    event->accept();
}
