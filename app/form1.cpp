#include "form1.h"

#include "runguard.h"

#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/previewdialog.h"
#include "files/workdir.h"
#include "ops/undo.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

using namespace torvale;

namespace {

// The homepage that a click on the banner opens.
const char kHomepage[] = "https://www.example.com/torvale/";

// File systems that hold no user files and are not offered in Drive1.
bool is_pseudo_file_system(const QByteArray &type)
{
    static const QList<QByteArray> pseudo = {
        "proc",   "sysfs",  "devtmpfs", "devpts",      "cgroup",     "cgroup2", "securityfs", "pstore",
        "debugfs", "tracefs", "mqueue", "hugetlbfs", "fusectl", "configfs", "bpf",     "autofs",
        "binfmt_misc", "efivarfs", "nsfs", "rpc_pipefs", "tmpfs", "squashfs", "ramfs", "overlay"};
    return pseudo.contains(type);
}

// A font standing in for 宋体: a Song/Ming-style serif where one is installed.
QFont song_font(int pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("serif")});
    font.setPointSize(pointSize);
    return font;
}

void set_text_colour(QWidget *widget, const char *colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(QLatin1String(colour)));
    widget->setPalette(palette);
}

// Sends clicks on the banner to a function.
class ClickFilter : public QObject
{
public:
    ClickFilter(QObject *parent, std::function<void()> onClick) : QObject(parent), m_onClick(std::move(onClick)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_onClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

Form1::Form1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TorvaleV2.0"));
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    createControls();
    createMenus();
    createTimers();
    startUp();
}

void Form1::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(468, 371);
    setCentralWidget(client);

    auto label = [client](const char *name, const QString &text, QRect geometry, const char *colour) {
        auto *l = new QLabel(text, client);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(geometry);
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (colour)
            set_text_colour(l, colour);
        return l;
    };
    auto lineEdit = [client](const char *name, QRect geometry) {
        auto *e = new QLineEdit(client);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(geometry);
        return e;
    };
    auto button = [client](const char *name, const QString &text, QRect geometry) {
        auto *b = new QPushButton(text, client);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        b->setEnabled(false);
        return b;
    };

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 468, 60);
    Image1->setPixmap(QPixmap(QStringLiteral(":/banner.png")));
    Image1->setCursor(QCursor(QPixmap(QStringLiteral(":/pointer.png")), 0, 0));
    Image1->installEventFilter(new ClickFilter(Image1, [this] { Image1_Click(); }));

    label("Label7", QStringLiteral("要了解更多的信息，请点击上面的图标访问作者主页！"), {88, 64, 289, 17}, "#00FFFF");
    createDirectoryControls();
    QLabel *warning = label("Label13", QStringLiteral("注意：不要在C盘根目录或其它系统文件目录下操作！"),
                            {16, 112, 145, 57}, "#FF0000");
    warning->setFont(song_font(12));
    QLabel *helpHint = label("Label12", QStringLiteral("具体操作方法请看帮助文件。"), {16, 168, 145, 41}, "#FFFFC0");
    QFont system = helpHint->font();
    system.setPointSize(12);
    system.setBold(true);
    helpHint->setFont(system);

    label("Label2", QStringLiteral("文件名前缀"), {16, 216, 65, 17}, "#0000C0");
    Text1 = lineEdit("Text1", {80, 216, 65, 18});
    label("Label3", QStringLiteral("起始序数"), {152, 216, 49, 17}, "#0000C0");
    Text2 = lineEdit("Text2", {208, 216, 49, 18});
    label("Label9", QStringLiteral("序数整合"), {264, 216, 49, 17}, "#0000C0");
    Combo1 = new QComboBox(client);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setGeometry(320, 216, 33, 20);
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    label("Label10", QStringLiteral("位"), {360, 216, 17, 17}, "#0000C0");
    Command1 = button("Command1", QStringLiteral("文件更名"), {384, 208, 73, 25});
    Command2 = button("Command2", QStringLiteral("TXT→HTML"), {384, 248, 73, 25});
    label("Label11", QStringLiteral("索引文件标题"), {16, 256, 73, 17}, "#FFFF00");
    Text9 = lineEdit("Text9", {96, 256, 273, 18});
    label("Label4", QStringLiteral("查找字符串"), {16, 288, 65, 17}, "#C00000");
    Text3 = lineEdit("Text3", {80, 288, 289, 18});
    Command3 = button("Command3", QStringLiteral("查找替换"), {384, 288, 73, 25});
    label("Label5", QStringLiteral("替换字符串"), {16, 312, 65, 17}, "#C00000");
    Text4 = lineEdit("Text4", {80, 312, 289, 18});
    label("Label6", QStringLiteral("进程"), {16, 344, 25, 17}, "#C000C0");
    ProgressBar1 = new QProgressBar(client);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(48, 344, 297, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    QLabel *statusCaption = label("Label8", QStringLiteral("工作状态"), {352, 344, 49, 17}, "#C000C0");
    QFont small = song_font(9);
    small.setItalic(true);
    statusCaption->setFont(small);
    Label1 = label("Label1", QString(), {408, 344, 57, 17}, "#FF0000");

    connect(Command1, &QPushButton::clicked, this, [this] {
        Label1->setText(QStringLiteral("正在更名"));
        Timer1->start();
    });
    connect(Command2, &QPushButton::clicked, this, [this] {
        Label1->setText(QStringLiteral("正在转换"));
        Timer2->start();
    });
    connect(Command3, &QPushButton::clicked, this, [this] {
        Label1->setText(QStringLiteral("正在替换"));
        Timer3->start();
    });

    // Keyboard order as the fields stand on the window.
    QWidget *order[] = {Drive1, Dir1, Text1, Text2, Combo1, Command1, Command2, Text9, Text3, Command3, Text4};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void Form1::createDirectoryControls()
{
    QWidget *client = centralWidget();
    Drive1 = new QComboBox(client);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(16, 88, 137, 20);
    const QString here = QStorageInfo(QDir::currentPath()).rootPath();
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        if (is_pseudo_file_system(volume.fileSystemType()) && volume.rootPath() != here)
            continue;
        roots << volume.rootPath();
    }
    if (!roots.contains(here))
        roots << here;
    roots.removeDuplicates();
    roots.sort();
    for (const QString &root : roots)
        Drive1->addItem(QDir::toNativeSeparators(root), root);

    m_dirModel = new QFileSystemModel(this);
    m_dirModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_dirModel->setReadOnly(true);
    Dir1 = new QTreeView(client);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(168, 88, 289, 104);
    Dir1->setModel(m_dirModel);
    Dir1->setHeaderHidden(true);
    for (int column = 1; column < m_dirModel->columnCount(); ++column)
        Dir1->hideColumn(column);
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    Dir1_Change(m_dirModel->filePath(current));
            });
    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
    // The model reads and sorts folders in the background: when rows arrive
    // on the way to the chosen folder, or are sorted, bring it back into view.
    auto keepInView = [this](const QModelIndex &parent) {
        if (m_shownPath.isEmpty() || (parent.isValid() && !m_shownPath.startsWith(m_dirModel->filePath(parent))))
            return;
        QTimer::singleShot(0, this, [this] {
            Dir1->scrollTo(m_dirModel->index(m_shownPath), QAbstractItemView::PositionAtCenter);
        });
    };
    connect(m_dirModel, &QAbstractItemModel::rowsInserted, this, keepInView);
    connect(m_dirModel, &QAbstractItemModel::layoutChanged, this, [keepInView] { keepInView({}); });
}

void Form1::createMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件"));
    file->setObjectName(QStringLiteral("file"));
    m_preview = file->addAction(QStringLiteral("预览…"));
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setEnabled(false);
    connect(m_preview, &QAction::triggered, this, &Form1::preview_Click);
    m_undo = file->addAction(QStringLiteral("撤销上次操作"));
    m_undo->setObjectName(QStringLiteral("undo"));
    m_undo->setEnabled(false);
    connect(m_undo, &QAction::triggered, this, &Form1::undo_Click);
    file->addSeparator();
    QAction *end = file->addAction(QStringLiteral("退出"));
    end->setObjectName(QStringLiteral("end"));
    connect(end, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("help"));
    QAction *con = help->addAction(QStringLiteral("帮助"));
    con->setObjectName(QStringLiteral("con"));
    connect(con, &QAction::triggered, this, &Form1::con_Click);
    QAction *man = help->addAction(QStringLiteral("作者"));
    man->setObjectName(QStringLiteral("man"));
    connect(man, &QAction::triggered, this, &Form1::man_Click);
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
}

void Form1::startUp()
{
    // The volume that holds the current directory, then that directory.
    const QString here = QDir::currentPath();
    const int volume = Drive1->findData(QStorageInfo(here).rootPath());
    if (volume >= 0 && volume != Drive1->currentIndex())
        Drive1->setCurrentIndex(volume);
    else
        Drive1_Change();
    chooseDirectory(here);

    Combo1->addItems({QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                      QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());

    resize(468, 371 + menuBar()->sizeHint().height());
}

void Form1::chooseDirectory(const QString &path)
{
    const QString root = QStorageInfo(path).rootPath();
    const int volume = Drive1->findData(root);
    if (volume >= 0 && volume != Drive1->currentIndex())
        Drive1->setCurrentIndex(volume);
    const QModelIndex index = m_dirModel->index(QDir(path).absolutePath());
    if (!index.isValid())
        return;
    Dir1->setCurrentIndex(index);
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        Dir1->expand(parent);
    Dir1->scrollTo(index);
    m_shownPath = index.data(QFileSystemModel::FilePathRole).toString();
}

void Form1::Drive1_Change()
{
    const QString root = Drive1->currentData().toString();
    // A volume that cannot be read is passed over silently; Dir1 stays where it is.
    if (root.isEmpty() || !QDir(root).isReadable())
        return;
    Dir1->setRootIndex(m_dirModel->setRootPath(root));
    Dir1_Change(root);
}

void Form1::Dir1_Change(const QString &path)
{
    CurrentPath = with_trailing_separator(path);
}

void Form1::Image1_Click()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomepage)));
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

RenameParams Form1::renameParams() const
{
    return {working_directory(CurrentPath), Text1->text(), Text2->text(),
            Combo1->currentIndex() < 0 ? 0 : Combo1->currentIndex() + 2, true};
}

ConvertParams Form1::convertParams() const
{
    return {working_directory(CurrentPath), Text9->text(), m_nextBackups ? m_nextBackups->path() : QString()};
}

ReplaceParams Form1::replaceParams() const
{
    return {working_directory(CurrentPath), Text3->text(), Text4->text(),
            m_nextBackups ? m_nextBackups->path() : QString()};
}

void Form1::Timer1_Timer()
{
    Timer1->stop();
    const RenameParams params = renameParams();
    runOperation(QStringLiteral("文件更名"), [&](const Progress &progress) { return run_rename(params, progress); });
}

void Form1::Timer2_Timer()
{
    Timer2->stop();
    m_nextBackups = std::make_unique<QTemporaryDir>();
    const ConvertParams params = convertParams();
    runOperation(QStringLiteral("TXT→HTML"), [&](const Progress &progress) { return run_convert(params, progress); });
}

void Form1::Timer3_Timer()
{
    Timer3->stop();
    m_nextBackups = std::make_unique<QTemporaryDir>();
    const ReplaceParams params = replaceParams();
    runOperation(QStringLiteral("查找替换"), [&](const Progress &progress) { return run_replace(params, progress); });
}

void Form1::runOperation(const QString &name, const std::function<Report(const Progress &)> &operation)
{
    // The polling timers rest while the operation runs, as the fields cannot change.
    Timer4->stop();
    Timer5->stop();
    // Dir1 would re-read the folder at every change the run makes; it looks
    // again once the run is over.
    m_dirModel->setOption(QFileSystemModel::DontWatchForChanges, true);
    RunGuard guard(ProgressBar1);
    const Report report = operation(guard.progress());
    m_dirModel->setOption(QFileSystemModel::DontWatchForChanges, false);
    // A run that went to its end is the one that undo takes back.
    if (report.status == Report::Status::Done) {
        m_undoName = name;
        m_undoDir = working_directory(CurrentPath);
        m_undoChanges = report.changes;
        m_undoBackups = std::move(m_nextBackups);
        m_undo->setEnabled(!m_undoChanges.isEmpty());
    }
    m_nextBackups.reset();
    Timer4->start();
    Timer5->start();
    showReport(report);
    Label1->setText(QString());
    ProgressBar1->setValue(0);
}

void Form1::undo_Click()
{
    const QString question = QStringLiteral("撤销上次的“%1”操作，恢复 %2 个文件？").arg(m_undoName).arg(m_undoChanges.size());
    if (QMessageBox::question(this, QStringLiteral("撤销上次操作"), question) != QMessageBox::Yes)
        return;
    const Report report = undo_changes(m_undoDir, m_undoChanges);
    m_undoChanges.clear();
    m_undoBackups.reset();
    m_undo->setEnabled(false);
    showReport(report);
}

void Form1::preview_Click()
{
    PreviewDialog dialog(previewSections(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // Run it exactly as the start button would.
    QPushButton *buttons[] = {Command1, Command2, Command3};
    const int operation = dialog.chosenOperation();
    if (operation >= 1 && operation <= 3 && buttons[operation - 1]->isEnabled())
        buttons[operation - 1]->click();
}

QList<PreviewSection> Form1::previewSections() const
{
    QList<PreviewSection> sections;
    if (Command1->isEnabled()) {
        const RenamePlan plan = plan_rename(renameParams());
        PreviewSection section{QStringLiteral("文件更名"), plan.refusal, {QStringLiteral("原文件名"), QStringLiteral("新文件名")}, {}, {}, 1};
        for (const RenameMove &move : plan.moves)
            section.rows.append({move.from, move.to});
        if (plan.problemRow >= 0)
            section.markedRows.insert(plan.problemRow);
        sections.append(section);
    }
    if (Command2->isEnabled()) {
        const ConvertPlan plan = plan_convert(convertParams(), true);
        PreviewSection section{QStringLiteral("TXT→HTML"), plan.refusal,
                               {QStringLiteral("文本文件"), QStringLiteral("网页"), QStringLiteral("说明")}, {}, {}, 2};
        for (const ConvertItem &item : plan.items) {
            if (!item.skipReason.isEmpty())
                section.markedRows.insert(int(section.rows.size()));
            section.rows.append({item.source, item.skipReason.isEmpty() ? item.page : QString(),
                                 !item.skipReason.isEmpty()  ? QStringLiteral("跳过：%1").arg(item.skipReason)
                                 : item.replacesExisting ? QStringLiteral("替换已有文件")
                                                         : QStringLiteral("新建")});
        }
        if (plan.refusal.isEmpty())
            section.rows.append({QString(), QStringLiteral("index.htm"),
                                 plan.indexExists ? QStringLiteral("索引，替换已有文件") : QStringLiteral("索引，新建")});
        sections.append(section);
    }
    if (Command3->isEnabled()) {
        const ReplacePlan plan = plan_replace(replaceParams());
        PreviewSection section{QStringLiteral("查找替换"), plan.refusal, {QStringLiteral("文件"), QStringLiteral("结果")}, {}, {}, 3};
        for (const ReplacePlanItem &item : plan.items) {
            if (!item.skipReason.isEmpty())
                section.markedRows.insert(int(section.rows.size()));
            section.rows.append({item.name, item.skipReason.isEmpty()
                                                ? QStringLiteral("替换 %1 处").arg(item.occurrences)
                                                : QStringLiteral("跳过：%1").arg(item.skipReason)});
        }
        if (plan.refusal.isEmpty() && plan.items.isEmpty())
            section.statement = QStringLiteral("没有文件含有查找字符串，不会改动任何文件。");
        sections.append(section);
    }
    return sections;
}

void Form1::showReport(const Report &report)
{
    QString text;
    QString details;
    if (report.status != Report::Status::Done) {
        text = report.message;
    } else if (!report.problems.isEmpty()) {
        // Show the first files in the box and the whole list behind "Show Details".
        constexpr int kShown = 15;
        QStringList lines;
        for (qsizetype i = 0; i < report.problems.size() && i < kShown; ++i)
            lines << QStringLiteral("%1：%2").arg(report.problems[i].name, report.problems[i].reason);
        if (report.problems.size() > kShown)
            lines << QStringLiteral("……等共 %1 个文件").arg(report.problems.size());
        text = QStringLiteral("以下文件被跳过或处理失败，其它文件已处理完毕：\n\n%1").arg(lines.join(QLatin1Char('\n')));
        if (report.problems.size() > kShown)
            details = problem_lines(report);
    } else if (!report.notes.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("提示"), report.notes.join(QLatin1Char('\n')));
        return;
    } else {
        return; // a run without trouble ends silently
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("出错"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("message"));
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void Form1::Timer4_Timer()
{
    Command1->setEnabled(!Text2->text().isEmpty());
    Command2->setEnabled(!Text9->text().isEmpty());
    Command3->setEnabled(!Text3->text().isEmpty() || !Text4->text().isEmpty());
    m_preview->setEnabled(Command1->isEnabled() || Command2->isEnabled() || Command3->isEnabled());
}

void Form1::Timer5_Timer()
{
    const bool S = !Text2->text().isEmpty();
    const bool T = !Text9->text().isEmpty();
    const bool F = !Text3->text().isEmpty() || !Text4->text().isEmpty();

    // With an index title and a search or replacement text both typed, the
    // rules below would disable every field that holds text and nothing could
    // be emptied again: those three fields stay usable then.
    const bool stuck = T && F;
    auto enable = [](QWidget *field) { field->setEnabled(true); };
    auto disable = [&](QWidget *field) {
        if (!(stuck && (field == Text9 || field == Text3 || field == Text4)))
            field->setEnabled(false);
    };

    if (S) { // block A
        enable(Text1);
        enable(Combo1);
        disable(Text9);
        disable(Text3);
        disable(Text4);
    } else {
        enable(Text9);
        enable(Text3);
        enable(Text4);
        disable(Text1);
        disable(Combo1);
    }
    if (T) { // block B
        disable(Text2);
        disable(Text3);
        disable(Text4);
    } else {
        enable(Text2);
        enable(Text3);
        enable(Text4);
    }
    if (F) { // block C
        disable(Text9);
        disable(Text2);
    } else {
        enable(Text9);
        enable(Text2);
    }
}
