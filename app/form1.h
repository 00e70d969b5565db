#pragma once

#include "backgroundrun.h"
#include "controls.h"
#include "undohistory.h"

#include "dialogs/optionsdialog.h"
#include "ops/describe.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class FolderPicker;
class QAction;
class QMenu;
class QTimer;
class StatusLine;

// The main window: the working folder, the fields of the three batch
// operations with their start buttons, progress and status. Each start
// button only names the operation in Label1 and arms its one-shot timer; the
// timer's tick starts the operation, which runs on a thread of its own while
// the window takes no input but the request to stop it.
class Form1 : public QMainWindow
{
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // The working folder, ending with a separator; empty while there is none.
    QString currentPath() const { return CurrentPath; }

    // Makes the folder the working folder and shows it in Dir1 (switching
    // Drive1 to its volume): the person's choice, made on the command line.
    void chooseDirectory(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createMenus();
    void createTimers();
    void createKeys();
    void startUp();

    // The working folder is what the person chose, and nothing else: when
    // it goes away or cannot be read any more, there is none.
    void setWorkingFolder(const QString &path);
    void forgetWorkingFolderIfGone();
    bool workingFolderReady();
    void showWorkingFolder();

    torvale::RenameParams renameParams() const;
    torvale::ConvertParams convertParams() const;
    torvale::ReplaceParams replaceParams() const;
    bool searchTextReady();
    // At a start button's tick: whether its operation may start now.
    bool startReady(QTimer *timer, torvale::Operation operation);

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    struct FieldTexts fieldTexts() const;
    void Timer4_Timer();
    void Timer5_Timer();
    void preview_Click();
    void showPreview(const std::shared_ptr<struct PreviewPlans> &plans);
    void undo_Click();
    void options_Click();
    void Image1_Click();
    void con_Click();
    void man_Click();

    // Work that takes long runs in the background: meanwhile the fields, the
    // start buttons and the entries that change files take no input (a key
    // or click made then is dropped, not kept for later); Escape and 停止
    // stop work that can stop.
    void runInBackground(const QString &caption, bool stoppable, BackgroundRun::Work work,
                         std::function<void()> done);
    void setBusy(bool busy);
    void stopRun();
    // Plans (on the worker) and applies an operation; makePlan gives the
    // plan that the preview showed, or makes a fresh one for a press.
    // A press (not confirmed) asks first when the run could not be taken back.
    template <typename Plan>
    void runPlan(torvale::Operation operation, std::function<std::shared_ptr<const Plan>()> makePlan,
                 bool confirmed = false);
    void finishRun(torvale::Operation operation, const struct RunOutcome &outcome);

    Form1Controls ui;
    QWidget *m_client = nullptr;
    FolderPicker *m_folders = nullptr;
    StatusLine *m_status = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    QTimer *Timer5 = nullptr;
    QMenu *m_fileMenu = nullptr;
    QAction *m_preview = nullptr;
    QAction *m_undo = nullptr;
    QAction *m_stop = nullptr;
    QAction *m_options = nullptr;
    RunChoices m_choices; // 选项: which files take part, how the search text reads
    UndoHistory m_history;
    BackgroundRun *m_run = nullptr;
    QPointer<QWidget> m_focusBeforeRun;
    bool m_closeWhenDone = false;
    bool m_altAlone = false; // Alt is down, and no other key came since

    QString CurrentPath;
    std::pair<quint64, quint64> m_folderIdentity;
};
