#include "form1.h"

#include "folderpicker.h"
#include "foldertree.h"
#include "inputrules.h"
#include "messages.h"
#include "previewplans.h"
#include "statusline.h"

#include "dialogs/fonts.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/previewdialog.h"
#include "files/console.h"
#include "files/workdir.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

using namespace torvale;

// What a run leaves for the window to show and keep.
struct RunOutcome
{
    Report report;
    std::shared_ptr<Folder> folder;
    QString folderLine;
    QString choices; // the choices the run was made with, and the files they left out
    QString folderPath;
};

namespace {

Report apply_plan(const RenamePlan &plan, const Progress &progress, const StopRequest *stop)
{
    return apply_rename(plan, progress, stop);
}
Report apply_plan(const ConvertPlan &plan, const Progress &progress, const StopRequest *stop)
{
    return apply_convert(plan, progress, stop);
}
Report apply_plan(const ReplacePlan &plan, const Progress &progress, const StopRequest *stop)
{
    return apply_replace(plan, progress, stop);
}

// The working folder without the separator at its end ("/" stays).
QString folder_path(const QString &CurrentPath)
{
    return CurrentPath.size() > 1 && CurrentPath.endsWith(QLatin1Char('/')) ? CurrentPath.chopped(1)
                                                                            : CurrentPath;
}

const QString kPreviewing = QStringLiteral("正在预览");

QString shown_folder(const QString &path)
{
    // (Qt's text of a name that is not UTF-8 has U+FFFD for its bytes: the
    // bytes are found again and shown as what they read.)
    return shown_path(NativePath(folder_path(path)).bytes);
}

} // namespace

Form1::Form1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(song_font(9));
    m_client = new QWidget;
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(468, 371);
    // On a screen smaller than the window the controls scroll into view.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidget(m_client);
    setCentralWidget(scroll);
    ui = create_form1_controls(m_client);
    on_click(ui.Image1, [this] { Image1_Click(); });
    m_status = new StatusLine(this);
    statusBar()->addWidget(m_status, 1);
    connect(m_status, &StatusLine::stopClicked, this, &Form1::stopRun);
    connect(m_status, &StatusLine::choicesClicked, this, [this] {
        if (m_options->isEnabled())
            options_Click();
    });
    for (QLineEdit *field : {ui.Text1, ui.Text2, ui.Text9, ui.Text3, ui.Text4})
        keep_one_line(field,
                      [this] { m_status->showNews(QStringLiteral("粘贴的文字有多行，只保留了第一行。")); });
    m_folders = new FolderPicker(ui.Drive1, ui.Dir1, this);
    connect(m_folders, &FolderPicker::folderChosen, this, &Form1::setWorkingFolder);
    m_run = new BackgroundRun(ui.ProgressBar1, this);
    createMenus();
    createTimers();
    createKeys();
    startUp();
    m_choices = RunChoices::load();
    m_status->showChoices(m_choices.line());
    qApp->installEventFilter(this);
}

Form1::~Form1()
{
    // The run ends (a rename puts its files back) before what it uses goes.
    delete m_run;
}

void Form1::createMenus()
{
    m_fileMenu = menuBar()->addMenu(QStringLiteral("文件"));
    m_fileMenu->setObjectName(QStringLiteral("file"));
    auto add = [this](QMenu *menu, const char *name, const QString &text, void (Form1::*handler)()) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    m_preview = add(m_fileMenu, "preview", QStringLiteral("预览…"), &Form1::preview_Click);
    m_preview->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_preview->setEnabled(false);
    m_undo = add(m_fileMenu, "undo", QStringLiteral("撤销上次操作"), &Form1::undo_Click);
    m_undo->setShortcut(QKeySequence::Undo);
    m_undo->setEnabled(false);
    m_fileMenu->addSeparator();
    m_options = add(m_fileMenu, "options", QStringLiteral("选项…"), &Form1::options_Click);
    m_fileMenu->addSeparator();
    QAction *end = m_fileMenu->addAction(QStringLiteral("退出"));
    end->setObjectName(QStringLiteral("end"));
    // Through the window's closing, which asks first while a run goes on.
    connect(end, &QAction::triggered, this, &QWidget::close, Qt::QueuedConnection);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("help"));
    add(help, "con", QStringLiteral("帮助"), &Form1::con_Click);
    add(help, "man", QStringLiteral("作者"), &Form1::man_Click);
}

void Form1::createKeys()
{
    // F10 opens the menus, as Alt alone does (see eventFilter); Alt+F and
    // Alt+H open each menu, although their texts show no letter.
    const std::pair<QKeySequence, QMenu *> openers[] = {
        {Qt::Key_F10, m_fileMenu},
        {Qt::ALT | Qt::Key_F, m_fileMenu},
        {Qt::ALT | Qt::Key_H, menuBar()->findChild<QMenu *>(QStringLiteral("help"))}};
    for (const auto &[keys, menu] : openers) {
        auto *open = new QAction(this);
        open->setShortcut(keys);
        connect(open, &QAction::triggered, this,
                [this, menu = menu] { menuBar()->setActiveAction(menu->menuAction()); });
        addAction(open);
    }
    m_stop = new QAction(this);
    m_stop->setObjectName(QStringLiteral("stopRun"));
    m_stop->setShortcut(Qt::Key_Escape);
    m_stop->setEnabled(false);
    connect(m_stop, &QAction::triggered, this, &Form1::stopRun);
    addAction(m_stop);
}

void Form1::createTimers()
{
    auto timer = [this](const char *name, int interval, void (Form1::*tick)()) {
        auto *t = new QTimer(this);
        t->setObjectName(QLatin1String(name));
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, tick);
        return t;
    };
    Timer1 = timer("Timer1", 100, &Form1::Timer1_Timer);
    Timer2 = timer("Timer2", 100, &Form1::Timer2_Timer);
    Timer3 = timer("Timer3", 100, &Form1::Timer3_Timer);
    Timer4 = timer("Timer4", 400, &Form1::Timer4_Timer);
    Timer5 = timer("Timer5", 200, &Form1::Timer5_Timer);
    Timer4->start();
    Timer5->start();
    const std::pair<QPushButton *, QTimer *> starts[] = {
        {ui.Command1, Timer1}, {ui.Command2, Timer2}, {ui.Command3, Timer3}};
    const Operation operations[] = {Operation::Rename, Operation::Convert, Operation::Replace};
    for (int i = 0; i < 3; ++i) {
        connect(starts[i].first, &QPushButton::clicked, this,
                [this, timer = starts[i].second, op = operations[i]] {
                    ui.Label1->setText(status_caption(op));
                    timer->start();
                });
    }
}

void Form1::startUp()
{
    // No folder is chosen until the person chooses one: the tree opens at
    // the home folder, with nothing selected.
    m_folders->reveal(QDir::homePath());
    showWorkingFolder();
    ui.Combo1->addItems({QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                         QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    ui.Combo1->setCurrentIndex(-1);
    ui.Combo1->setEditText(QString());
    const QSize wanted(468, 371 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    // Room for the window's frame, which is not known before it is shown.
    const QSize room = screen()->availableGeometry().size() - QSize(16, 48);
    resize(wanted.boundedTo(room));
}

void Form1::chooseDirectory(const QString &path)
{
    setWorkingFolder(path);
    m_folders->choose(path);
}

void Form1::setWorkingFolder(const QString &path)
{
    CurrentPath.clear();
    m_folderIdentity = {};
    QString error;
    if (!path.isEmpty()) {
        // Also a folder the tree cannot show (a name that is not UTF-8): it is
        // found again by its bytes when a run opens it.
        const QString absolute = QDir(path).absolutePath();
        if (const std::shared_ptr<Folder> folder = Folder::open(NativePath(absolute), &error, false)) {
            CurrentPath = with_trailing_separator(absolute);
            m_folderIdentity = folder->identity();
        }
    }
    m_folders->showChosen(CurrentPath);
    m_history.look_at(folder_path(CurrentPath));
    if (m_undo)
        m_undo->setEnabled(m_history.available() && !m_run->running());
    showWorkingFolder();
    if (!error.isEmpty())
        m_status->setIdle(QStringLiteral("没有工作文件夹：") + error, {}, true);
}

void Form1::forgetWorkingFolderIfGone()
{
    if (CurrentPath.isEmpty())
        return;
    QString error;
    const std::shared_ptr<Folder> folder = Folder::open(NativePath(CurrentPath), &error, false);
    if (folder && folder->identity() == m_folderIdentity)
        return;
    const QString gone = shown_folder(CurrentPath);
    setWorkingFolder(QString());
    m_status->clearNews();
    m_status->setIdle(QStringLiteral("没有工作文件夹：“%1”已不存在或无法读取，请重新选择。"), gone, true);
}

bool Form1::workingFolderReady()
{
    forgetWorkingFolderIfGone();
    if (!CurrentPath.isEmpty())
        return true;
    show_message(this, QMessageBox::Warning, QStringLiteral("没有工作文件夹"),
                 QStringLiteral("请先在文件夹列表中选择要操作的文件夹。\n\n%1").arg(m_status->idle()));
    return false;
}

void Form1::showWorkingFolder()
{
    const QString folder = shown_folder(CurrentPath);
    setWindowTitle(CurrentPath.isEmpty() ? QStringLiteral("TorvaleV2.0")
                                         : QStringLiteral("TorvaleV2.0 — %1").arg(folder));
    if (CurrentPath.isEmpty())
        m_status->setIdle(QStringLiteral("没有工作文件夹：请在上面的文件夹列表中选择要操作的文件夹。"), {},
                          true);
    else
        m_status->setIdle(QStringLiteral("工作文件夹：%1"), folder, false);
}

RenameParams Form1::renameParams() const
{
    const int chosen = ui.Combo1->property("chosen").toInt();
    RenameParams params{folder_path(CurrentPath), ui.Text1->text(), ui.Text2->text(),
                        chosen < 0 ? 0 : chosen + 2};
    params.history = m_history.history();
    params.filter = m_choices.filter();
    return params;
}

ConvertParams Form1::convertParams() const
{
    ConvertParams params{folder_path(CurrentPath), ui.Text9->text()};
    params.history = m_history.history();
    params.filter = m_choices.filter();
    return params;
}

ReplaceParams Form1::replaceParams() const
{
    ReplaceParams params{folder_path(CurrentPath), ui.Text3->text(), ui.Text4->text()};
    params.history = m_history.history();
    params.filter = m_choices.filter();
    params.options = m_choices.search;
    return params;
}

bool Form1::searchTextReady()
{
    // A wrong expression never reaches a run.
    QString why = ui.Text3->text().isEmpty() ? kNoSearchText : QString();
    if (why.isEmpty() && m_choices.search.regex &&
        !Pattern::make(ui.Text3->text(), ui.Text4->text(), m_choices.search, &why))
        why += QStringLiteral("。没有改动任何文件：请修改查找字符串，或在“文件 → 选项…”中取消“正则表达式”。");
    if (why.isEmpty())
        return true;
    show_message(this, QMessageBox::Warning, operation_name(Operation::Replace), why);
    return false;
}

bool Form1::startReady(QTimer *timer, Operation operation)
{
    timer->stop();
    if (m_run->running()) // pressed before this work began: dropped
        return false;
    ui.Label1->clear();
    return workingFolderReady() && (operation != Operation::Replace || searchTextReady());
}

void Form1::Timer1_Timer()
{
    if (startReady(Timer1, Operation::Rename))
        runPlan<RenamePlan>(Operation::Rename, [params = renameParams()] {
            return std::make_shared<const RenamePlan>(plan_rename(params));
        });
}

void Form1::Timer2_Timer()
{
    if (startReady(Timer2, Operation::Convert))
        runPlan<ConvertPlan>(Operation::Convert, [params = convertParams()] {
            return std::make_shared<const ConvertPlan>(plan_convert(params));
        });
}

void Form1::Timer3_Timer()
{
    if (startReady(Timer3, Operation::Replace))
        runPlan<ReplacePlan>(Operation::Replace, [params = replaceParams()] {
            return std::make_shared<const ReplacePlan>(plan_replace(params));
        });
}

template <typename Plan>
void Form1::runPlan(Operation operation, std::function<std::shared_ptr<const Plan>()> makePlan,
                    bool confirmed)
{
    auto outcome = std::make_shared<RunOutcome>();
    // A run whose former versions would not fit into the history waits for
    // the person's word (the preview showed it already).
    auto unconfirmed = std::make_shared<std::shared_ptr<const Plan>>();
    const auto identity = m_folderIdentity;
    const QString chosen = shown_folder(CurrentPath);
    runInBackground(
        status_caption(operation), true,
        [=](const Progress &progress, const StopRequest *stop) {
            const std::shared_ptr<const Plan> plan = makePlan();
            outcome->folder = plan->folder;
            outcome->folderLine = describe_folder(*plan);
            outcome->choices = describe_choices(*plan);
            outcome->folderPath = chosen;
            if (outcome->folderLine.isEmpty())
                outcome->folderLine = QStringLiteral("文件夹：%1").arg(chosen);
            // The folder the run opened must be the one the person chose: one
            // that took its place since is left alone.
            if (plan->folder && plan->folder->identity() != identity)
                outcome->report = refused(
                    QStringLiteral("文件夹“%1”已被移动或换成了另一个文件夹，没有改动任何文件。").arg(chosen));
            else if (!confirmed && plan->ok() && (!plan->undoable || !plan->history))
                *unconfirmed = plan;
            else
                outcome->report = apply_plan(*plan, progress, stop);
        },
        [this, operation, outcome, unconfirmed] {
            if (!*unconfirmed)
                return finishRun(operation, *outcome);
            setBusy(false);
            const QString why = (*unconfirmed)->history
                                    ? undo_warning(**unconfirmed)
                                    : QStringLiteral("此次操作将无法撤销：%1").arg(m_history.problem());
            if (ask(this, operation_name(operation), why + QStringLiteral("\n\n仍要执行吗？"),
                    QMessageBox::No))
                runPlan<Plan>(
                    operation, [plan = *unconfirmed] { return plan; }, true);
        });
}

void Form1::finishRun(Operation operation, const RunOutcome &outcome)
{
    m_history.look_at(folder_path(CurrentPath)); // a run that changed nothing left the one before
    setBusy(false);
    forgetWorkingFolderIfGone();
    const QString folder = outcome.choices.isEmpty()
                               ? outcome.folderLine
                               : outcome.folderLine + QLatin1Char('\n') + outcome.choices;
    const QString news = show_report(this, operation, folder, outcome.report);
    m_status->showNews(news + QStringLiteral("。文件夹：%1"), outcome.folderPath, outcome.choices);
    if (m_closeWhenDone)
        close();
}

void Form1::runInBackground(const QString &caption, bool stoppable, BackgroundRun::Work work,
                            std::function<void()> done)
{
    if (m_run->running())
        return;
    ui.Label1->setText(caption);
    m_status->showRun(stoppable ? QStringLiteral("%1：按 Esc 键或点“停止”可以停止。").arg(caption)
                                : caption + QStringLiteral("……"),
                      stoppable);
    setBusy(true);
    m_stop->setEnabled(stoppable);
    m_run->start(std::move(work), std::move(done));
}

void Form1::setBusy(bool busy)
{
    if (busy) {
        // The focus goes to no control first: taken from a control that is
        // disabled, it would go on to the next one, where the next key lands.
        QWidget *focus = QApplication::focusWidget();
        m_focusBeforeRun = focus && focus->window() == this ? focus : nullptr;
        m_client->setFocus(Qt::OtherFocusReason);
        Timer4->stop();
        Timer5->stop();
        m_client->setCursor(Qt::BusyCursor);
    }
    QWidget *controls[] = {ui.Drive1, ui.Dir1,  ui.Text1,    ui.Text2,    ui.Combo1,  ui.Text9,
                           ui.Text3,  ui.Text4, ui.Command1, ui.Command2, ui.Command3};
    for (QWidget *control : controls)
        control->setEnabled(!busy);
    m_preview->setEnabled(false);
    m_options->setEnabled(!busy);
    m_undo->setEnabled(!busy && m_history.available());
    m_stop->setEnabled(false);
    if (busy)
        return;
    m_client->unsetCursor();
    m_status->endRun();
    ui.Label1->setText(QString());
    ui.ProgressBar1->setValue(0);
    Timer4_Timer();
    Timer5_Timer();
    Timer4->start();
    Timer5->start();
    if (m_focusBeforeRun && m_focusBeforeRun->isEnabled() && m_focusBeforeRun->isVisible())
        m_focusBeforeRun->setFocus(Qt::OtherFocusReason);
}

void Form1::stopRun()
{
    if (!m_run->running())
        return;
    m_run->stop();
    m_stop->setEnabled(false);
    m_status->showRun(QStringLiteral("正在停止……"), false);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_run->running())
        return QMainWindow::closeEvent(event);
    event->ignore();
    if (m_closeWhenDone)
        return;
    // A preview changes nothing: it stops without a question. An undo
    // cannot stop half-way.
    const QString caption = ui.Label1->text();
    if (caption == kPreviewing) {
        m_closeWhenDone = true;
        return stopRun();
    }
    if (!m_stop->isEnabled() && !m_run->stopping()) {
        if (caption == status_caption(Operation::Undo) &&
            !ask(this, QStringLiteral("关闭窗口"),
                 QStringLiteral("正在撤销上次操作，撤销无法中途停止。要在撤销完成后关闭窗口吗？"),
                 QMessageBox::No))
            return;
        m_closeWhenDone = true;
        return;
    }
    if (ask(this, QStringLiteral("关闭窗口"),
            QStringLiteral("操作还在进行（%"
                           "1）。要停止它并关闭窗口吗？\n\n停止的更名会把文件恢复原名；替换和转换在处理中的文"
                           "件完成后停止。")
                .arg(caption),
            QMessageBox::No)) {
        m_closeWhenDone = true;
        stopRun();
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::WindowActivate:
        // torvale-cli may have run meanwhile: what undo would take back is looked at again.
        if (!m_run->running()) {
            m_history.look_at(folder_path(CurrentPath));
            m_undo->setEnabled(m_history.available());
        }
        break;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        m_altAlone = key->key() == Qt::Key_Alt && !key->isAutoRepeat();
        m_status->clearNews();
        break;
    }
    case QEvent::ShortcutOverride:
        if (static_cast<QKeyEvent *>(event)->key() != Qt::Key_Alt)
            m_altAlone = false;
        break;
    case QEvent::KeyRelease:
        // Alt pressed and let go alone opens the menus.
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Alt && m_altAlone) {
            m_altAlone = false;
            menuBar()->setActiveAction(m_fileMenu->menuAction());
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::WindowDeactivate:
        m_altAlone = false;
        if (event->type() == QEvent::MouseButtonPress)
            m_status->clearNews();
        break;
    default:
        break;
    }
    return false;
}

void Form1::undo_Click()
{
    if (m_run->running() || !workingFolderReady())
        return;
    m_history.look_at(folder_path(CurrentPath)); // (torvale-cli may have run meanwhile)
    m_undo->setEnabled(m_history.available());
    if (!m_history.available()) {
        show_message(this, QMessageBox::Information, QStringLiteral("撤销上次操作"),
                     QStringLiteral("工作文件夹中没有可以撤销的操作。"));
        return;
    }
    if (!ask(this, QStringLiteral("撤销上次操作"), m_history.question(), QMessageBox::Yes) ||
        m_run->running())
        return;
    auto outcome = std::make_shared<RunOutcome>();
    outcome->folderPath = shown_folder(CurrentPath);
    outcome->folderLine = QStringLiteral("文件夹：") + outcome->folderPath;
    runInBackground(
        status_caption(Operation::Undo), false,
        [this, outcome](const Progress &progress, const StopRequest *) {
            outcome->report = m_history.undo(progress);
        },
        [this, outcome] { finishRun(Operation::Undo, *outcome); });
}

void Form1::preview_Click()
{
    if (m_run->running() || !workingFolderReady())
        return;
    auto plans = std::make_shared<PreviewPlans>();
    QList<Operation> wanted;
    if (ui.Command1->isEnabled())
        wanted << Operation::Rename;
    if (ui.Command2->isEnabled())
        wanted << Operation::Convert;
    if (ui.Command3->isEnabled() && !ui.Text3->text().isEmpty())
        wanted << Operation::Replace;
    plans->emptySearch = ui.Command3->isEnabled() && ui.Text3->text().isEmpty();
    plans->renaming = renameParams();
    plans->converting = convertParams();
    plans->replacing = replaceParams();
    // Reading every file of a large folder takes a while: on the worker,
    // and it can be stopped (an expression may take long on each line).
    runInBackground(
        kPreviewing, true,
        [=](const Progress &progress, const StopRequest *stop) {
            for (const Operation operation : wanted) {
                if (!stop->load())
                    plans->make(operation, {}, progress, stop);
            }
        },
        [this, plans] { showPreview(plans); });
}

void Form1::showPreview(const std::shared_ptr<PreviewPlans> &plans)
{
    const bool stopped = m_run->stopping();
    setBusy(false);
    if (m_closeWhenDone)
        return (void)close();
    if (stopped) // what was planned so far is not all: nothing is shown
        return m_status->showNews(QStringLiteral("已停止预览，没有改动任何文件。"));
    QList<PlanTable> tables;
    if (plans->rename)
        tables << plans->table(Operation::Rename);
    if (plans->convert)
        tables << plans->table(Operation::Convert);
    if (plans->replace || plans->emptySearch)
        tables << plans->table(Operation::Replace);
    PreviewDialog dialog(tables, this);
    // The preview said whether the run could be taken back; without a
    // history at all, the run still asks.
    const bool confirmed = m_history.history() != nullptr;
    // Rows left out: the operation is planned again without them, and
    // shown before it can run (one plan at a time).
    BackgroundRun replans(dialog.progressBar(), nullptr);
    connect(&dialog, &PreviewDialog::planWanted, this,
            [&dialog, &replans, plans](Operation operation, const QSet<QByteArray> &leftOut) {
                auto fresh = std::make_shared<PreviewPlans>(*plans);
                auto unseen = std::make_shared<QSet<QByteArray>>();
                replans.start(
                    [=](const Progress &progress, const StopRequest *stop) {
                        *unseen = fresh->make(operation, leftOut, progress, stop);
                    },
                    [&dialog, plans, fresh, operation, unseen] {
                        const PreviewPlans shown = *plans; // until its table is gone
                        *plans = *fresh;
                        dialog.showPlan(fresh->table(operation), *unseen);
                    });
            });
    // The run applies the plan that was shown; each file is checked again
    // just before it changes, and what changed since is reported.
    if (dialog.exec() == QDialog::Accepted && workingFolderReady()) {
        switch (dialog.chosenOperation()) {
        case Operation::Rename:
            return runPlan<RenamePlan>(
                Operation::Rename, [plans] { return plans->rename; }, confirmed);
        case Operation::Convert:
            return runPlan<ConvertPlan>(
                Operation::Convert, [plans] { return plans->convert; }, confirmed);
        case Operation::Replace:
            if (plans->replace)
                return runPlan<ReplacePlan>(
                    Operation::Replace, [plans] { return plans->replace; }, confirmed);
            searchTextReady();
            break;
        case Operation::Undo:
            break;
        }
    }
}

FieldTexts Form1::fieldTexts() const
{
    return {!ui.Text1->text().isEmpty(), !ui.Combo1->currentText().isEmpty(), !ui.Text2->text().isEmpty(),
            !ui.Text9->text().isEmpty(), !ui.Text3->text().isEmpty(),         !ui.Text4->text().isEmpty()};
}

void Form1::Timer4_Timer()
{
    const ButtonStates states = button_states(fieldTexts());
    ui.Command1->setEnabled(states.Command1);
    ui.Command2->setEnabled(states.Command2);
    ui.Command3->setEnabled(states.Command3);
    m_preview->setEnabled(states.Command1 || states.Command2 || states.Command3);
    forgetWorkingFolderIfGone();
}

void Form1::Timer5_Timer()
{
    const FieldStates states = field_states(fieldTexts());
    const std::pair<QWidget *, FieldState> fields[] = {{ui.Text1, states.Text1}, {ui.Combo1, states.Combo1},
                                                       {ui.Text2, states.Text2}, {ui.Text9, states.Text9},
                                                       {ui.Text3, states.Text3}, {ui.Text4, states.Text4}};
    for (const auto &[field, state] : fields) {
        // A field that the rules take the focus from leaves it with no
        // control (the window's client area holds it, and gives it back when
        // the window is active again): never with a start button that the
        // next key would press, nor with Drive1.
        if (state.losesFocus && field->hasFocus())
            m_client->setFocus(Qt::OtherFocusReason);
        field->setEnabled(state.enabled);
        // A field that would lose the focus at the next tick is passed over
        // by Tab, so that the keys reach the fields after it at a person's pace.
        field->setFocusPolicy(state.losesFocus ? Qt::ClickFocus : Qt::StrongFocus);
    }
}

void Form1::options_Click()
{
    OptionsDialog dialog(m_choices, ui.Text3->text(), ui.Text4->text(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Kept at once: a session that ends badly keeps them too.
    m_choices = dialog.choices();
    m_choices.save();
    m_status->showChoices(m_choices.line());
}

void Form1::Image1_Click()
{
    QDesktopServices::openUrl(
        QUrl(QStringLiteral("https://www.example.com/torvale/"))); // the author's homepage
}

void Form1::con_Click()
{
    Form2 dialog(this);
    dialog.exec();
}

void Form1::man_Click()
{
    Form3 dialog(this);
    dialog.exec();
}
