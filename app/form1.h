#pragma once

#include "ops/convert.h"
#include "ops/rename.h"
#include "ops/replace.h"
#include "ops/report.h"

#include <QMainWindow>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QAction;
class QComboBox;

struct PreviewSection;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeView;

// The main window: the working directory, the fields of the three batch
// operations with their start buttons, progress and status. Each start button
// only names the operation in Label1 and arms its one-shot timer; the timer's
// tick runs the whole operation.
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // The working directory, ending with a separator.
    QString currentPath() const { return CurrentPath; }

    // Shows the directory in Dir1 (switching Drive1 to its volume), as a
    // user's choice would.
    void chooseDirectory(const QString &path);

    // Tick handlers, also called directly by the tests.
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();

private:
    void createControls();
    void createDirectoryControls();
    void createMenus();
    void createTimers();
    void startUp();

    // The parameters of each operation, read from the fields as a press would.
    torvale::RenameParams renameParams() const;
    torvale::ConvertParams convertParams() const;
    torvale::ReplaceParams replaceParams() const;

    void preview_Click();
    void undo_Click();
    QList<PreviewSection> previewSections() const;

    void Drive1_Change();
    void Dir1_Change(const QString &path);
    void Image1_Click();
    void con_Click();
    void man_Click();

    // Runs an operation inside the tick, then shows its report and ends the
    // run: empty status, progress 0.
    void runOperation(const QString &name, const std::function<torvale::Report(const torvale::Progress &)> &operation);
    void showReport(const torvale::Report &report);

    QLabel *Image1 = nullptr;
    QComboBox *Drive1 = nullptr;
    QTreeView *Dir1 = nullptr;
    QFileSystemModel *m_dirModel = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QComboBox *Combo1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLineEdit *Text9 = nullptr;
    QLineEdit *Text3 = nullptr;
    QPushButton *Command3 = nullptr;
    QLineEdit *Text4 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label1 = nullptr;

    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    QTimer *Timer5 = nullptr;

    QAction *m_preview = nullptr;
    QAction *m_undo = nullptr;

    // What the last completed run changed, to take it back: its name, folder,
    // changes, and the private folder with the former bytes of rewritten files.
    QString m_undoName;
    QString m_undoDir;
    QList<torvale::Change> m_undoChanges;
    std::unique_ptr<QTemporaryDir> m_undoBackups;
    std::unique_ptr<QTemporaryDir> m_nextBackups; // for the run under way

    QString CurrentPath;
    QString m_shownPath; // the folder chosen last, kept in view while the tree loads
};
