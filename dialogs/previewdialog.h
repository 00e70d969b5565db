#pragma once

#include <QDialog>
#include <QList>
#include <QSet>
#include <QStringList>

// One operation's part of the preview: what a press of its button would do.
struct PreviewSection
{
    QString title;     // the operation, as its tab shows it
    QString statement; // said above the table: why the run would be refused, if it would
    QStringList headers;
    QList<QStringList> rows;
    QSet<int> markedRows; // rows with a problem
    int operation = 0;    // 1 rename, 2 conversion, 3 find and replace
};

// Shows what each possible operation would do now, changing nothing. "执行"
// accepts the dialog for the operation whose tab is shown.
class PreviewDialog : public QDialog
{
    Q_OBJECT

public:
    PreviewDialog(const QList<PreviewSection> &sections, QWidget *parent = nullptr);

    // The operation whose tab was shown when "执行" was pressed.
    int chosenOperation() const;

private:
    QList<PreviewSection> m_sections;
    class QTabWidget *m_tabs = nullptr;
};
