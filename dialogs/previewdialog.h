#pragma once

#include "ops/describe.h"

#include <QDialog>
#include <QList>
#include <QSet>

#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;
class PreviewModel;

// Shows what each possible operation would do now, changing nothing: one tab
// per operation. "执行" accepts the dialog for the operation whose tab is shown.
// Each file's row can be unticked: the operation then needs a fresh plan
// without those files (planWanted), and 执行 waits until it is shown.
class PreviewDialog : public QDialog
{
    Q_OBJECT

public:
    PreviewDialog(const QList<torvale::PlanTable> &tables, QWidget *parent = nullptr);
    ~PreviewDialog() override;

    // The operation whose tab was shown when "执行" was pressed.
    torvale::Operation chosenOperation() const;

    // The fresh plan of an operation, made without the files last asked for
    // and without those that came since the preview began (unseen: shown
    // unticked, so that 执行 takes only files seen ticked).
    void showPlan(const torvale::PlanTable &table, const QSet<QByteArray> &unseen);
    QProgressBar *progressBar() const { return m_progress; }

signals:
    // One request at a time: the next follows when its plan is shown.
    void planWanted(torvale::Operation operation, const QSet<QByteArray> &leftOut);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Section
    {
        torvale::Operation operation;
        PreviewModel *model;
        QTableView *table;
        QLabel *folder;
        QLabel *choices;
        QLabel *statement;
        QSet<QByteArray> leftOut; // the rows unticked
        QSet<QByteArray> planned; // the rows left out of the plan shown
        bool waiting = false;
    };
    void fill(Section &section, const torvale::PlanTable &table);
    void askForPlans();
    void updateRunButton();

    std::vector<Section> m_sections;
    QTabWidget *m_tabs = nullptr;
    QPushButton *m_run = nullptr;
    QLabel *m_planning = nullptr;
    QProgressBar *m_progress = nullptr;
};
