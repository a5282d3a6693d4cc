// The main window: the tooth editors it opens from the overview table and serves (navigation,
// masks carried to a tooth's other photographs, the default edits, the chart and the table).
#include "TForm1.h"

#include "TOverviewModel.h"
#include "TToothForm.h"
#include "UiErrors.h"

#include <QKeyEvent>
#include <QTableView>
#include <QTimer>

namespace {

// Enter on the table opens the editor of the current cell, as a double click does.
class TEnterKeyFilter : public QObject {
public:
    TEnterKeyFilter(QObject* parent, std::function<void()> onEnter)
        : QObject(parent), fOnEnter(std::move(onEnter))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                key->modifiers() == Qt::NoModifier) {
                fOnEnter();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> fOnEnter;
};

} // namespace

void TForm1::ConnectEditorHosting()
{
    connect(Table, &QTableView::doubleClicked, this, &TForm1::TableDblClick);
    Table->installEventFilter(
        new TEnterKeyFilter(Table, [this] {
        Guarded(this, [this] { OpenToothForm(fModel->ToothAt(Table->currentIndex())); });
    }));
    // While the user paints or drags a threshold, the cells and the chart follow a few times a
    // second instead of at every step.
    fEditedTimer = new QTimer(this);
    fEditedTimer->setSingleShot(true);
    fEditedTimer->setInterval(100);
    connect(fEditedTimer, &QTimer::timeout, this, &TForm1::RefreshEdited);
}

void TForm1::TableDblClick()
{
    Guarded(this, [this] { OpenToothForm(Teeth->GetTooth(LastCol - 1, LastRow - 1)); });
}

void TForm1::OpenToothForm(TTooth* p)
{
    // A photograph is never worked on by an editor and a worker at once.
    if (!p || Busy())
        return;
    if (TToothForm* form = FindToothForm(p)) {
        form->setWindowState(form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        form->show();
        form->raise();
        form->activateWindow();
        return;
    }
    auto* form = new TToothForm(this);
    form->OnChangeDefaults = [this](TToothForm*) { ShowDefaults(); };
    form->OnToothClose = [this](TToothForm*) { UpdateChart(); };
    form->OnChangeStat = [this](TTooth* tooth) { ToothEdited(tooth); };
    form->OnFindTooth = [this](TTooth* tooth) { RefreshCell(tooth); };
    form->OnMaskSet = [this](TTooth* tooth) { MaskSet(tooth); };
    form->OnNext = [this](TNextTooth dir, TTooth* tooth, bool test) { return NextTooth(dir, tooth, test); };
    connect(this, &TForm1::ToothMaskSet, form, &TToothForm::ToothMaskSet, Qt::QueuedConnection);
    connect(this, &TForm1::ToothRenamed, form, &TToothForm::ToothRenamed, Qt::QueuedConnection);
    form->ShowTooth(p);
}

TToothForm* TForm1::FindToothForm(const TTooth* Tooth) const
{
    for (TToothForm* form : findChildren<TToothForm*>(Qt::FindDirectChildrenOnly))
        if (!form->Closed() && form->Tooth() == Tooth)
            return form;
    return nullptr;
}

void TForm1::CloseToothForms()
{
    const QList<TToothForm*> forms = findChildren<TToothForm*>(Qt::FindDirectChildrenOnly);
    for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
        (*it)->close();
        // Gone at once: the photographs it refers to are about to be rebuilt or handed to workers.
        delete *it;
    }
    RefreshEdited();
}

void TForm1::DeleteToothForms()
{
    // The window is going: the editors save what they hold but report nothing back.
    for (TToothForm* form : findChildren<TToothForm*>(Qt::FindDirectChildrenOnly)) {
        form->OnChangeStat = nullptr;
        form->OnToothClose = nullptr;
        form->close();
        delete form;
    }
    fEdited.clear();
}

TTooth* TForm1::NextTooth(TNextTooth Dir, TTooth* Tooth, bool Test)
{
    const int32_t n = Teeth->GetToothIndex(Tooth);
    if (n < 0)
        return nullptr;
    const int32_t t = Tooth->TimePoint;
    TTooth* q = nullptr;
    switch (Dir) {
    case TNextTooth::ntUP:
        for (int32_t u = t - 1; !q && u >= std::min(0, t - 1); --u)
            q = Teeth->GetTooth(n, u);
        break;
    case TNextTooth::ntLeft:
        for (int32_t m = n - 1; !q && m >= 0; --m)
            q = Teeth->GetTooth(m, t);
        break;
    case TNextTooth::ntDown: {
        // Up to the tooth's latest time point, also when earlier ones are missing.
        int32_t last = t;
        for (const auto& photograph : *(*Teeth)[n])
            last = std::max(last, photograph->TimePoint);
        for (int32_t u = t + 1; !q && u <= last; ++u)
            q = Teeth->GetTooth(n, u);
        break;
    }
    case TNextTooth::ntRight:
        for (int32_t m = n + 1; !q && m < Teeth->Count(); ++m)
            q = Teeth->GetTooth(m, t);
        break;
    }
    // The calling editor takes the photograph over: no photograph is open in two editors.
    if (!Test && q)
        if (TToothForm* other = FindToothForm(q)) {
            other->close();
            delete other;
        }
    return q;
}

void TForm1::MaskSet(TTooth* Sender)
{
    for (const auto& series : *Teeth) {
        if (std::none_of(series->begin(), series->end(), [&](const auto& p) { return p.get() == Sender; }))
            continue;
        for (const auto& q : *series)
            if (q.get() != Sender) {
                const TPixelLease lease = q->Lease();
                q->SetMask(*Sender); // copies, reclassifies and saves
                ToothEdited(q.get());
            }
    }
    emit ToothMaskSet(Sender);
}

void TForm1::ToothEdited(TTooth* Tooth)
{
    if (std::find(fEdited.begin(), fEdited.end(), Tooth) == fEdited.end())
        fEdited.push_back(Tooth);
    if (!fEditedTimer->isActive())
        fEditedTimer->start();
}

void TForm1::RefreshEdited()
{
    fEditedTimer->stop();
    if (fEdited.empty())
        return;
    for (TTooth* tooth : fEdited)
        RefreshCell(tooth);
    fEdited.clear();
    UpdateChart();
}

void TForm1::RefreshCell(TTooth* Tooth)
{
    if (fModel->IndexOf(Tooth).isValid())
        fModel->SetThumb(Tooth, MakeThumb(*Tooth));
}
