// Exceptions must not pass through Qt's event loop: handler bodies run inside Guarded, which shows
// what went wrong in a message box and returns.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Runs Body; a std::exception it throws is shown (not modally blocking) over Parent. Returns false
// when Body threw.
bool Guarded(QWidget* Parent, const std::function<void()>& Body);

// A window-modal message that does not block the caller (tests and running work go on); deleted
// when closed. Long lists go to the details. Returns the box (owned by Parent).
class QMessageBox;
QMessageBox* ShowProblems(QWidget* Parent, const QString& Title, const QString& Summary,
                          const QStringList& Lines);
