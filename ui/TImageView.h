// A picture in a scrolling view with zoom: fit to the window, 100 %, in and out (Ctrl + wheel).
// Mouse positions come out as pixels of the picture, whatever the zoom and the scroll position.
#pragma once

#include <QImage>
#include <QScrollArea>

class TImageCanvas;

class TImageView : public QScrollArea {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);

    // Shows Image (shared, not copied). A picture of another size keeps the zoom, or refits it in
    // fit mode.
    void SetImage(const QImage& Image);
    const QImage& Image() const { return fImage; }

    double Zoom() const { return fZoom; }
    bool FitMode() const { return fFit; }
    // Zoom is limited to MinZoom .. MaxZoom; any explicit zoom leaves fit mode.
    void SetZoom(double Zoom);
    void FitToWindow();
    void ZoomIn();
    void ZoomOut();
    static constexpr double MinZoom = 1.0 / 16, MaxZoom = 16;

    // The picture pixel under a point of the canvas (the widget that receives the mouse); may lie
    // outside the picture. Pixel (x, y) covers canvas points [x, x + 1) * zoom.
    QPoint PixelAt(QPointF CanvasPos) const;
    // The canvas point at the centre of picture pixel (x, y): for tests and benchmarks.
    QPoint CanvasPos(QPoint Pixel) const;
    QWidget* Canvas() const;

signals:
    void MouseDown(Qt::MouseButton Button, QPoint Pixel);
    void MouseMove(QPoint Pixel);
    void MouseUp(Qt::MouseButton Button, QPoint Pixel);
    void ZoomChanged(double Zoom);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    friend class TImageCanvas;
    double FitZoom() const;
    void ApplyZoom(double Zoom, QPointF Anchor);

    QImage fImage;
    double fZoom = 1;
    bool fFit = false;
    TImageCanvas* fCanvas = nullptr;
};
