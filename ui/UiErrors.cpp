#include "UiErrors.h"

#include <QMessageBox>
#include <exception>

bool Guarded(QWidget* Parent, const std::function<void()>& Body)
{
    try {
        Body();
        return true;
    } catch (const std::exception& e) {
        ShowProblems(Parent, "Orvix", QString::fromStdString(e.what()), {});
    } catch (...) {
        ShowProblems(Parent, "Orvix", "An unexpected error occurred.", {});
    }
    return false;
}

QMessageBox* ShowProblems(QWidget* Parent, const QString& Title, const QString& Summary,
                          const QStringList& Lines)
{
    // A dozen lines stay readable in the box itself; the rest is one click away.
    constexpr int shown = 12;
    auto* box = new QMessageBox(QMessageBox::Warning, Title, Summary, QMessageBox::Ok, Parent);
    box->setObjectName("ProblemsBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!Lines.isEmpty()) {
        QStringList head = Lines.mid(0, shown);
        if (Lines.size() > shown)
            head << QString("... and %1 more (see the details)").arg(Lines.size() - shown);
        box->setInformativeText(head.join('\n'));
        if (Lines.size() > shown)
            box->setDetailedText(Lines.join('\n'));
    }
    box->open();
    return box;
}
