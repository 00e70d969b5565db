#pragma once

#include "controls.h"
#include "undohistory.h"

#include "ops/describe.h"

#include <QMainWindow>

#include <functional>

class FolderPicker;
class QAction;
class QTimer;

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

private:
    void createMenus();
    void createTimers();
    void startUp();

    torvale::RenameParams renameParams() const;
    torvale::ConvertParams convertParams(const QString &backups) const;
    torvale::ReplaceParams replaceParams(const QString &backups) const;

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    struct FieldTexts fieldTexts() const;
    void Timer4_Timer();
    void Timer5_Timer();
    void preview_Click();
    void undo_Click();
    void Image1_Click();
    void con_Click();
    void man_Click();

    // Runs an operation inside the tick, shows its report and ends the run:
    // empty status, progress 0. What the run changed becomes what undo takes back.
    void runOperation(torvale::Operation operation,
                      const std::function<torvale::Report(const torvale::Progress &)> &run,
                      const std::shared_ptr<torvale::Folder> &folder = {});
    // Runs the plan the preview showed, or a fresh one when its button is pressed.
    template <typename Plan> void applyPlan(torvale::Operation operation, const Plan &plan);

    Form1Controls ui;
    FolderPicker *m_folders = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    QTimer *Timer5 = nullptr;
    QAction *m_preview = nullptr;
    QAction *m_undo = nullptr;
    UndoHistory m_history;

    QString CurrentPath;
};
