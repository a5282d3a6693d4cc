#include "TStatusPanel.h"

#include "Types.h"

#include <QPainter>
#include <algorithm>

TStatusPanel::TStatusPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName("StatusBar");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusPanel::SetProgress(double Value)
{
    fProgress = std::clamp(Value, 0.0, 1.0);
    // At once, not at the next idle moment: the bar must advance while work keeps the loop busy.
    repaint();
}

void TStatusPanel::SetText(const QString& Text)
{
    fText = Text;
    update();
}

void TStatusPanel::SetNote(const QString& Note)
{
    fNote = Note;
    update();
}

QString TStatusPanel::ShownText() const
{
    if (fNote.isEmpty())
        return fText;
    return fText.isEmpty() ? fNote : fText + "   \u2014   " + fNote;
}

int32_t TStatusPanel::LimeWidth(int32_t Width, double Progress)
{
    return RoundEven(Width * Progress);
}

QSize TStatusPanel::sizeHint() const
{
    return {200, fontMetrics().height() + 6};
}

void TStatusPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    const int32_t k = LimeWidth(r.width(), fProgress);
    p.fillRect(QRect(r.left(), r.top(), k, r.height()), QColor(0, 255, 0));
    p.fillRect(QRect(r.left() + k, r.top(), r.width() - k, r.height()), palette().color(QPalette::Button));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, ShownText());
}
