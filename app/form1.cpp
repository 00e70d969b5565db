#include "form1.h"

#include "folderpicker.h"
#include "inputrules.h"
#include "messages.h"
#include "runguard.h"

#include "dialogs/fonts.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/previewdialog.h"
#include "files/workdir.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

using namespace torvale;

Form1::Form1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TorvaleV2.0"));
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(song_font(9));
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(468, 371);
    setCentralWidget(client);
    ui = create_form1_controls(client);
    on_click(ui.Image1, [this] { Image1_Click(); });
    m_folders = new FolderPicker(ui.Drive1, ui.Dir1, this);
    connect(m_folders, &FolderPicker::folderChosen, this,
            [this](const QString &path) { CurrentPath = with_trailing_separator(path); });
    createMenus();
    createTimers();
    startUp();
}

void Form1::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件"));
    file->setObjectName(QStringLiteral("file"));
    auto add = [this](QMenu *menu, const char *name, const QString &text, void (Form1::*handler)()) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    m_preview = add(file, "preview", QStringLiteral("预览…"), &Form1::preview_Click);
    m_preview->setEnabled(false);
    m_undo = add(file, "undo", QStringLiteral("撤销上次操作"), &Form1::undo_Click);
    m_undo->setEnabled(false);
    file->addSeparator();
    QAction *end = file->addAction(QStringLiteral("退出"));
    end->setObjectName(QStringLiteral("end"));
    connect(end, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("help"));
    add(help, "con", QStringLiteral("帮助"), &Form1::con_Click);
    add(help, "man", QStringLiteral("作者"), &Form1::man_Click);
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
    chooseDirectory(QDir::currentPath());
    ui.Combo1->addItems({QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                         QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    ui.Combo1->setCurrentIndex(-1);
    ui.Combo1->setEditText(QString());
    resize(468, 371 + menuBar()->sizeHint().height());
}

void Form1::chooseDirectory(const QString &path)
{
    // Also a folder the tree cannot show (a name that is not UTF-8): it is
    // found again by its bytes when a run opens it.
    CurrentPath = with_trailing_separator(QDir(path).absolutePath());
    m_folders->choose(path);
}

RenameParams Form1::renameParams() const
{
    const int chosen = ui.Combo1->property("chosen").toInt();
    return {working_directory(CurrentPath), ui.Text1->text(), ui.Text2->text(), chosen < 0 ? 0 : chosen + 2,
            true};
}

ConvertParams Form1::convertParams(const QString &backups) const
{
    return {working_directory(CurrentPath), ui.Text9->text(), backups};
}

ReplaceParams Form1::replaceParams(const QString &backups) const
{
    return {working_directory(CurrentPath), ui.Text3->text(), ui.Text4->text(), backups};
}

void Form1::Timer1_Timer()
{
    Timer1->stop();
    applyPlan(Operation::Rename, plan_rename(renameParams()));
}

void Form1::Timer2_Timer()
{
    Timer2->stop();
    applyPlan(Operation::Convert, plan_convert(convertParams(m_history.prepareBackups())));
}

void Form1::Timer3_Timer()
{
    Timer3->stop();
    applyPlan(Operation::Replace, plan_replace(replaceParams(m_history.prepareBackups())));
}

template <typename Plan> void Form1::applyPlan(Operation operation, const Plan &plan)
{
    runOperation(
        operation,
        [&](const Progress &progress) {
            if constexpr (std::is_same_v<Plan, RenamePlan>)
                return apply_rename(plan, progress);
            else if constexpr (std::is_same_v<Plan, ConvertPlan>)
                return apply_convert(plan, progress);
            else
                return apply_replace(plan, progress);
        },
        plan.folder);
}

void Form1::runOperation(Operation operation, const std::function<Report(const Progress &)> &run,
                         const std::shared_ptr<Folder> &folder)
{
    // The polling timers rest while the operation runs, as the fields cannot change.
    Timer4->stop();
    Timer5->stop();
    m_folders->pause();
    ui.Label1->setText(status_caption(operation));
    Report report;
    {
        RunGuard guard(ui.ProgressBar1);
        report = run(guard.progress());
    }
    m_folders->resume();
    if (operation != Operation::Undo) {
        if (report.status == Report::Status::Done)
            m_history.record(operation_name(operation), folder, report.changes);
        else
            m_history.discardPrepared();
    }
    m_undo->setEnabled(m_history.available());
    Timer4->start();
    Timer5->start();
    show_report(this, operation, report);
    ui.Label1->setText(QString());
    ui.ProgressBar1->setValue(0);
}

void Form1::undo_Click()
{
    if (QMessageBox::question(this, QStringLiteral("撤销上次操作"), m_history.question()) != QMessageBox::Yes)
        return;
    runOperation(Operation::Undo, [this](const Progress &progress) { return m_history.undo(progress); });
}

void Form1::preview_Click()
{
    const QString backups = m_history.prepareBackups();
    RenamePlan renamePlan;
    ConvertPlan convertPlan;
    ReplacePlan replacePlan;
    QList<PlanTable> tables;
    ui.Label1->setText(QStringLiteral("正在预览"));
    {
        // Reading every file of a large folder takes a while: the window goes on painting.
        RunGuard guard(ui.ProgressBar1);
        if (ui.Command1->isEnabled())
            tables << describe_plan(renamePlan = plan_rename(renameParams()));
        if (ui.Command2->isEnabled())
            tables << describe_plan(convertPlan =
                                        plan_convert(convertParams(backups), true, guard.progress()));
        if (ui.Command3->isEnabled())
            tables << describe_plan(replacePlan =
                                        plan_replace(replaceParams(backups), true, guard.progress()));
    }
    ui.Label1->setText(QString());
    ui.ProgressBar1->setValue(0);
    PreviewDialog dialog(tables, this);
    if (dialog.exec() != QDialog::Accepted) {
        m_history.discardPrepared();
        return;
    }
    // The run applies the plan that was shown; each file is checked again
    // just before it changes, and what changed since is reported.
    switch (dialog.chosenOperation()) {
    case Operation::Rename:
        return applyPlan(Operation::Rename, renamePlan);
    case Operation::Convert:
        return applyPlan(Operation::Convert, convertPlan);
    case Operation::Replace:
        return applyPlan(Operation::Replace, replacePlan);
    case Operation::Undo:
        break;
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
            centralWidget()->setFocus(Qt::OtherFocusReason);
        field->setEnabled(state.enabled);
    }
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
