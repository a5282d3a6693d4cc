// The status bar's one panel: a lime progress bar with the study folder's path written over it,
// and after the path a short note on the last command ("Stopped: 3 of 10 photographs done").
#pragma once

#include <QWidget>

class TStatusPanel : public QWidget {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    double Progress() const { return fProgress; }
    // Clamped to 0..1.
    void SetProgress(double Value);
    QString Text() const { return fText; }
    void SetText(const QString& Text);
    QString Note() const { return fNote; }
    void SetNote(const QString& Note);
    // What the panel shows as one line.
    QString ShownText() const;
    // Pixels of the bar that are lime for a panel Width pixels wide (rounded half to even).
    static int32_t LimeWidth(int32_t Width, double Progress);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double fProgress = 0;
    QString fText;
    QString fNote;
};
