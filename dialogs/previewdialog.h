#pragma once

#include "ops/describe.h"

#include <QDialog>
#include <QList>

class QTabWidget;

// Shows what each possible operation would do now, changing nothing: one tab
// per operation. "执行" accepts the dialog for the operation whose tab is shown.
class PreviewDialog : public QDialog
{
    Q_OBJECT

public:
    PreviewDialog(const QList<torvale::PlanTable> &tables, QWidget *parent = nullptr);

    // The operation whose tab was shown when "执行" was pressed.
    torvale::Operation chosenOperation() const;

private:
    QList<torvale::Operation> m_operations;
    QTabWidget *m_tabs = nullptr;
};
