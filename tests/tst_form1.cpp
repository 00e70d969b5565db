// The main window, driven through its controls with its real timers.

#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"
#include "app/inputrules.h"
#include "app/startup.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <csignal>

using namespace testutil;
using namespace windowtest;

class TestForm1 : public QObject
{
    Q_OBJECT

    template <typename T = QWidget> T *control(const char *name)
    {
        T *found = m_form->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QLineEdit *field(const QByteArray &name) { return control<QLineEdit>(name.constData()); }
    QLabel *status() { return control<QLabel>("Label1"); }
    // What the line below the controls says, whole.
    QString statusLine() { return control<QLabel>("statusText")->toolTip(); }
    QTreeView *tree() { return control<QTreeView>("Dir1"); }
    QFileSystemModel *folders() { return qobject_cast<QFileSystemModel *>(tree()->model()); }

    // "Text2=1" fills a field; "Combo1=1" chooses the list's entry 1.
    void fill(const QStringList &fields)
    {
        for (const QString &f : fields) {
            const QByteArray name = f.section('=', 0, 0).toLatin1();
            if (name == "Combo1")
                control<QComboBox>("Combo1")->setCurrentIndex(f.section('=', 1).toInt());
            else
                field(name)->setText(f.section('=', 1));
            if (name == "Text2") // the prefix field opens with the start number
                QTRY_VERIFY_WITH_TIMEOUT(field("Text1")->isEnabled(), 5000);
        }
    }
    // Presses a start button once the polling rules have enabled it.
    void press(const QString &buttonName)
    {
        QTRY_VERIFY_WITH_TIMEOUT(control(qPrintable(buttonName))->isEnabled(), 5000);
        QTest::mouseClick(control<QPushButton>(qPrintable(buttonName)), Qt::LeftButton);
    }
    void waitForEndOfRun() { QTRY_VERIFY_WITH_TIMEOUT(status()->text().isEmpty(), 60000); }
    void activate()
    {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
    }
    // Clicks a folder of the tree, scrolled into view as a person would.
    void clickFolder(const QString &path)
    {
        tree()->expand(folders()->index(QFileInfo(path).path()));
        QTRY_VERIFY_WITH_TIMEOUT(tree()->visualRect(folders()->index(path)).isValid(), 10000);
        tree()->scrollTo(folders()->index(path));
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                          tree()->visualRect(folders()->index(path)).center());
    }
    void files(int count, const QByteArray &bytes)
    {
        for (int i = 0; i < count; ++i)
            write(m_tmp->path(), QByteArray("f") + QByteArray::number(1000 + i) + ".txt", bytes);
    }

    Form1 *m_form = nullptr;
    TempDir *m_tmp = nullptr;
    BoxAnswerer *m_boxes = nullptr;

private slots:
    void initTestCase() { install_translations(*qApp); }
    void init()
    {
        m_tmp = new TempDir;
        m_boxes = new BoxAnswerer;
        m_form = new Form1;
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
        m_form->chooseDirectory(m_tmp->path());
        QCOMPARE(m_form->currentPath(), m_tmp->path() + "/");
    }
    void cleanup()
    {
        delete m_form;
        delete m_boxes;
        delete m_tmp;
    }

    // Each button names its operation in Label1 and runs it at its tick; two presses in quick succession
    // give one run. Then the line below says what was done, and where ("gbk:" marks GBK bytes).
    void operations_data()
    {
        QTest::addColumn<QString>("row"); // fields | button | caption | name=start of its bytes | news
        QTest::newRow("rename") << u("Text2=1 Text1=照片 Combo1=1 | Command1 | 正在更名 | 照片001.txt=oldA "
                                     "照片002.txt=oldB | 已更名 2 个文件");
        QTest::newRow("width 2 from 98")
            << u("Text2=98 Combo1=0 | Command1 | 正在更名 | 98.txt=oldA 99.txt=oldB | 已更名");
        QTest::newRow("prefix keeps its case")
            << u("Text2=1 Text1=IMG_ | Command1 | 正在更名 | IMG_1.txt=oldA IMG_2.txt=oldB | 已更名");
        QTest::newRow("convert") << u(
            "Text9=小说 | Command2 | 正在转换 | gbk:旧.htm=<HTML> index.htm=<HTML> | "
            "生成了 2 个网页和 index.htm");
        QTest::newRow("replace") << u("Text3=old Text4=新old | Command3 | 正在替换 | a.txt=gbk:新oldA "
                                      "gbk:旧.txt=gbk:新oldB | 修改了 2 个文件");
    }
    void operations()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        write(m_tmp->path(), QByteArray("a.txt"), "oldA");
        write(m_tmp->path(), gbk(u("旧.txt")), "oldB");
        fill(part[0].split(' '));
        press(part[1]);
        press(part[1]); // a second press within the interval: still one run
        QCOMPARE(status()->text(), part[2]);
        waitForEndOfRun();
        QCOMPARE(control<QProgressBar>("ProgressBar1")->value(), 0);
        auto bytes = [](const QString &text) {
            return text.startsWith("gbk:") ? gbk(text.mid(4)) : text.toUtf8();
        };
        for (const QString &file : part[3].split(' '))
            QVERIFY2(
                read(m_tmp->path(), bytes(file.section('=', 0, 0))).startsWith(bytes(file.section('=', 1))),
                qPrintable(file));
        QVERIFY2(statusLine().contains(part[4]) && statusLine().contains(m_tmp->path()),
                 qPrintable(statusLine()));
        QCOMPARE(m_form->windowTitle(), u("TorvaleV2.0 — ") + m_tmp->path());
        QVERIFY(m_boxes->texts.isEmpty());
    }

    // 预览… (Ctrl+P) names the folder; Enter closes it; 执行 applies the plan shown, not a fresh one. The
    // undo question (Ctrl+Z) names the folder and says in the operation's words what undo does.
    void previewRunAndUndo_data()
    {
        QTest::addColumn<QString>("row"); // fields | top of the preview | its rows | the folder after | undo
        QTest::newRow("rename") << u("Text2=1 | （2 个文件） | a.txt 1.txt;b.txt 2.txt | 1.txt 2.txt c.txt | "
                                     "把 2 个文件改回原来的名字");
        QTest::newRow("convert") << u(
            "Text9=t | （2 个 txt 文件） | a.txt a.htm;b.txt b.htm; index.htm | a.htm "
            "a.txt b.htm b.txt c.txt index.htm | 删除生成的 3 个网页");
        QTest::newRow("replace") << u(
            "Text3=old Text4=new | （2 个文件） | a.txt 替换 1 处;b.txt 替换 1 处 | a.txt "
            "b.txt c.txt | 把 1 个文件恢复为替换前的内容");
    }
    void previewRunAndUndo()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        const bool replace = QTest::currentDataTag() == QByteArray("replace");
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        write(m_tmp->path(), QByteArray("b.txt"), "old");
        QMap<QByteArray, QByteArray> expected = snapshot(m_tmp->path());
        activate();
        fill(part[0].split(' '));
        QTRY_VERIFY_WITH_TIMEOUT(control<QAction>("preview")->isEnabled(), 5000);
        bool closed = false;
        when_modal([&](QWidget *dialog) {
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Return);
            closed = !dialog->isVisible();
        });
        QTest::keyClick(m_form, Qt::Key_P, Qt::ControlModifier);
        waitForEndOfRun();
        QVERIFY(closed);
        QCOMPARE(snapshot(m_tmp->path()), expected); // Enter changed nothing

        QStringList shown;
        QString top;
        when_modal([&](QWidget *dialog) {
            auto *model = dialog->findChild<QTableView *>("table")->model();
            for (int r = 0; r < model->rowCount(); ++r)
                shown << model->index(r, 0).data().toString() + " " + model->index(r, 1).data().toString();
            top = dialog->findChild<QLabel *>("folder")->text();
            write(m_tmp->path(), QByteArray("c.txt"), "c"); // a fresh plan would take it
            if (replace)
                write(m_tmp->path(), QByteArray("b.txt"), "old, changed since");
            dialog->findChild<QPushButton *>("run")->click();
        });
        control<QAction>("preview")->trigger();
        waitForEndOfRun();
        QCOMPARE(shown.join(';'), part[2]);
        QCOMPARE(top, u("文件夹：") + m_tmp->path() + part[1]);
        QCOMPARE(QDir(m_tmp->path()).entryList(QDir::Files).join(' '), part[3]);
        QCOMPARE(m_boxes->texts.join("").contains("b.txt"), replace);

        m_boxes->texts.clear();
        activate();
        QTest::keyClick(m_form, Qt::Key_Z, Qt::ControlModifier);
        waitForEndOfRun();
        QVERIFY2(m_boxes->texts.value(0).contains(m_tmp->path()) && m_boxes->texts.value(0).contains(part[4]),
                 qPrintable(m_boxes->texts.join("|")));
        expected["c.txt"] = "c";
        if (replace)
            expected["b.txt"] = "old, changed since";
        QCOMPARE(snapshot(m_tmp->path()), expected);
        QVERIFY(!control<QAction>("undo")->isEnabled());
    }

    // Keys typed at human speed after a click into a field that the rules then take the focus from go
    // to no control: they press no start button and switch no drive.
    void humanTyping_data()
    {
        QTest::addColumn<QString>("fields"); // the field typed into first, the field clicked into then
        QTest::newRow("start number after an index title") << "Text9 Text2";
        QTest::newRow("search text after a start number") << "Text2 Text3";
        QTest::newRow("index title after a start number") << "Text2 Text9";
    }
    void humanTyping()
    {
        QFETCH(QString, fields);
        const QByteArray first = fields.section(' ', 0, 0).toLatin1(),
                         second = fields.section(' ', 1).toLatin1();
        write(m_tmp->path(), QByteArray("a.txt"), "a b a");
        activate();
        QTest::mouseClick(field(first), Qt::LeftButton);
        QTest::keyClick(m_form->windowHandle(), Qt::Key_A);
        QTest::qWait(450); // a person's pause: the rules look at the fields meanwhile
        QTest::mouseClick(field(second), Qt::LeftButton);
        QWidget *client = control("client");
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), client, 5000); // the next tick takes it
        for (Qt::Key key :
             {Qt::Key_A, Qt::Key_Space, Qt::Key_B, Qt::Key_Space, Qt::Key_Return, Qt::Key_Down}) {
            QTest::qWait(150); // a key every 150 ms
            QTest::keyClick(m_form->windowHandle(), key);
        }
        QCOMPARE(QApplication::focusWidget(), client); // no control
        QVERIFY(field(second)->text().isEmpty());
        QVERIFY(status()->text().isEmpty());
        for (const char *timer : {"Timer1", "Timer2", "Timer3"})
            QVERIFY(!control<QTimer>(timer)->isActive());
        QCOMPARE(m_form->currentPath(), m_tmp->path() + "/");
    }

    // Tab at a person's pace reaches every control of the operation in use, passing over the fields
    // that the rules would take the focus from at their next tick.
    void keyboardOrder_data()
    {
        QTest::addColumn<QString>("row"); // fields | the order from Drive1 on
        QTest::newRow("nothing filled") << " | Dir1 Text2 Text9 Text3 Text4 Drive1";
        QTest::newRow("rename") << "Text2=1 | Dir1 Text1 Text2 Combo1 Command1 Drive1";
        QTest::newRow("convert") << "Text9=t | Dir1 Text9 Command2 Drive1";
        QTest::newRow("replace") << "Text3=a | Dir1 Text3 Text4 Command3 Drive1";
    }
    void keyboardOrder()
    {
        QFETCH(QString, row);
        activate();
        fill(row.section(" | ", 0, 0).split(' ', Qt::SkipEmptyParts));
        QTest::qWait(450); // the rules settle
        control("Drive1")->setFocus();
        QStringList visited;
        while (visited.size() < row.section(" | ", 1).count(' ') + 1) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::qWait(300); // a person's pace, past a tick of each rule
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited.join(' '), row.section(" | ", 1));
    }

    // F10 and Alt alone open the menus, Alt+H the help menu.
    void menuKeys_data()
    {
        QTest::addColumn<QKeyCombination>("keys");
        QTest::addColumn<QString>("opens");
        QTest::newRow("F10") << QKeyCombination(Qt::Key_F10) << "file";
        QTest::newRow("Alt") << QKeyCombination(Qt::Key_Alt) << "file";
        QTest::newRow("Alt+H") << (Qt::ALT | Qt::Key_H) << "help";
    }
    void menuKeys()
    {
        QFETCH(QKeyCombination, keys);
        QFETCH(QString, opens);
        activate();
        QTest::keyClick(m_form, keys.key(), keys.keyboardModifiers());
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(QApplication::activePopupWidget()->objectName(), opens);
        QApplication::activePopupWidget()->close();
    }

    // The working folder is the one the person chose; runs (one changing nothing keeps the undo of the
    // one before) and a folder coming above the view move no row. When the chosen folder goes, there
    // is none, not its neighbour: the line below says so and a press changes nothing.
    void theChosenFolder()
    {
        for (int i = 10; i < 40; ++i)
            QVERIFY(QDir(m_tmp->path()).mkdir(QString("f%1").arg(i)));
        QVERIFY(QDir(m_tmp->path()).mkdir("run"));
        write(m_tmp->path() + "/run", u("重要笔记.txt").toUtf8(), "x");
        const QString chosen = m_tmp->path() + "/f25";
        write(chosen, "a.txt", "zzz");
        clickFolder(chosen);
        QCOMPARE(m_form->currentPath(), chosen + "/");
        QScrollBar *bar = tree()->verticalScrollBar();
        bar->setValue(bar->value() + 30); // the person scrolls
        auto top = [this] { return folders()->fileName(tree()->indexAt(QPoint(0, 0))); };
        const QString seen = top();
        fill({"Text3=zzz", "Text4=y"});
        for (int run = 0; run < 2; ++run) {
            press("Command3");
            waitForEndOfRun();
        }
        QVERIFY(statusLine().contains(u("修改了 0 个文件")));
        control<QAction>("undo")->trigger();
        waitForEndOfRun();
        QCOMPARE(read(chosen, "a.txt"), "zzz");
        QVERIFY(QDir(m_tmp->path()).mkdir("a00")); // comes first
        const QModelIndex tmp = folders()->index(m_tmp->path());
        QTRY_COMPARE_WITH_TIMEOUT(folders()->index(0, 0, tmp).data().toString(), "a00", 10000);
        QCOMPARE(top(), seen);
        QCOMPARE(m_form->currentPath(), chosen + "/");

        field("Text3")->clear();
        field("Text4")->clear();
        fill({"Text2=1"});
        QVERIFY(QDir(chosen).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(m_form->currentPath().isEmpty(), 5000);
        QVERIFY(statusLine().contains(u("没有工作文件夹")) && statusLine().contains(chosen));
        QVERIFY(tree()->selectionModel()->selectedIndexes().isEmpty());
        QCOMPARE(m_form->windowTitle(), "TorvaleV2.0");
        QTRY_COMPARE_WITH_TIMEOUT(folders()->rowCount(tmp), 31, 10000);
        press("Command1");
        waitForEndOfRun();
        QVERIFY(m_boxes->texts.join("").contains(u("请先在文件夹列表中选择")));
        QCOMPARE(QDir(m_tmp->path() + "/run").entryList(QDir::Files), QStringList{u("重要笔记.txt")});
    }

    // A press that cannot do what the person means changes nothing and says why, in a box that fits
    // the screen. Started without a folder, the window has none (not the one it was started in).
    void refusedPresses_data()
    {
        QTest::addColumn<QString>("row"); // fields | button | message
        QTest::newRow("started without a folder") << u("Text2=1 | Command1 | 请先在文件夹列表中选择");
        QTest::newRow("empty search text") << u("Text4=x | Command3 | 查找字符串是空的");
        QTest::newRow("a prefix of 4,000 characters")
            << u("Text2=1 Text1=%1 | Command1 | 太长").arg(QString(4000, QChar(0x957F)));
    }
    void refusedPresses()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        write(m_tmp->path(), QByteArray("a.txt"), "x");
        const QString launchedIn = QDir::currentPath();
        if (QTest::currentDataTag() == QByteArray("started without a folder")) {
            QDir::setCurrent(m_tmp->path());
            delete m_form;
            m_form = new Form1;
            m_form->show();
            QVERIFY(m_form->currentPath().isEmpty());
            QCOMPARE(m_form->windowTitle(), "TorvaleV2.0");
        }
        const auto before = snapshot(m_tmp->path());
        fill(part[0].split(' '));
        press(part[1]);
        waitForEndOfRun();
        QDir::setCurrent(launchedIn);
        QCOMPARE(snapshot(m_tmp->path()), before);
        QVERIFY2(m_boxes->texts.join("").contains(part[2]), qPrintable(m_boxes->texts.join("|").left(200)));
        const QSize screen = m_form->screen()->availableGeometry().size();
        for (const QRect &box : std::as_const(m_boxes->geometries))
            QVERIFY2(box.width() <= screen.width() && box.height() <= screen.height(),
                     qPrintable(QString::number(box.height())));
    }

    // One-line fields keep one line of what is pasted, and say so.
    void pastedLineBreaks_data()
    {
        QTest::addColumn<QString>("row"); // field | its text, ^ the cursor | pasted | after
        QTest::newRow("replacement") << "Text4 | ^ | new\nline | new";
        QTest::newRow("search, CR LF, in the middle") << "Text3 | ab^cd | X\r\nY | abXcd";
        QTest::newRow("index title, empty first line") << "Text9 | p^ | \n\u2028q\nr | pq";
    }
    void pastedLineBreaks()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        QLineEdit *edit = field(part[0].toLatin1());
        edit->setText(QString(part[1]).remove('^'));
        edit->setCursorPosition(int(part[1].indexOf('^')));
        QGuiApplication::clipboard()->setText(part[2]);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), part[3]);
        QVERIFY(statusLine().contains(u("只保留了第一行")));
    }

    // A click or a Space made during a run is dropped, not replayed after it ("a" → "ab" stays "ab").
    void onePressOneRun_data()
    {
        QTest::addColumn<bool>("space");
        QTest::newRow("click") << false;
        QTest::newRow("Space") << true;
    }
    void onePressOneRun()
    {
        QFETCH(bool, space);
        SlowCalls slow(5000);
        TORVALE_REQUIRE(slow.attached, "strace cannot trace this process");
        files(100, "a");
        activate();
        fill({"Text3=a", "Text4=ab"});
        auto *button = control<QPushButton>("Command3");
        press("Command3");
        QTimer::singleShot(150, this, [&] { // after the tick, while the run goes on
            if (space)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            else
                QTest::mouseClick(button, Qt::LeftButton);
        });
        waitForEndOfRun();
        QVERIFY(!control<QTimer>("Timer3")->isActive());
        QCOMPARE(read(m_tmp->path(), "f1000.txt") + read(m_tmp->path(), "f1099.txt"), "abab");
    }

    // Escape, 停止 or closing the window (which asks) stop a run: a rename puts every name back; replace
    // and convert stop after the files in hand, without index.htm, and undo takes back what was done.
    void stop_data()
    {
        // fields | button | how | files done when stopped (a batch of 256 new versions is made before
        // any is put in place)
        QTest::addColumn<QString>("row");
        QTest::newRow("rename, Escape") << "Text2=1 | Command1 | Escape | 3";
        QTest::newRow("rename, closing the window") << "Text2=1 | Command1 | close | 3";
        QTest::newRow("replace, 停止") << "Text3=a Text4=b | Command3 | stop | 256";
        QTest::newRow("convert, Escape") << "Text9=t | Command2 | Escape | 256";
    }
    void stop()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        SlowCalls slow(5000);
        TORVALE_REQUIRE(slow.attached, "strace cannot trace this process");
        // Enough files that, after the first batch is in place, the rest lasts well beyond a person's
        // (or a loaded machine's) time to press the key.
        constexpr int kFiles = 1000;
        files(kFiles, "a");
        const auto before = snapshot(m_tmp->path());
        activate();
        fill(part[0].split(' '));
        press(part[1]);
        QTRY_VERIFY_WITH_TIMEOUT(control<QProgressBar>("ProgressBar1")->value() >= part[3].toInt(), 30000);
        // Then the batch is flushed to disk before any of it is put in place: stopped while the flush
        // lasts (long, with much else waiting to be written), nothing would have changed.
        auto placed = [&] {
            auto files = snapshot(m_tmp->path());
            files.removeIf([](auto file) { return file.key().startsWith('.'); }); // (unfinished ones)
            return files != before;
        };
        if (part[1] != "Command1")
            QTRY_VERIFY_WITH_TIMEOUT(placed(), 30000);
        QVERIFY(control("stop")->isVisible() && !control("Text2")->isEnabled() &&
                !control(qPrintable(part[1]))->isEnabled());
        if (part[2] == "Escape")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else if (part[2] == "stop")
            QTest::mouseClick(control<QPushButton>("stop"), Qt::LeftButton);
        else
            m_form->close(); // answered Yes
        waitForEndOfRun();
        const auto after = snapshot(m_tmp->path());
        QVERIFY2(m_boxes->texts.join("").contains(u("操作已停止")) &&
                     m_boxes->texts.join("").contains(m_tmp->path()),
                 qPrintable(m_boxes->texts.join("|")));
        QCOMPARE(m_form->isVisible(), part[2] != "close");
        QCOMPARE(after == before, part[1] == "Command1");
        if (part[1] == "Command1")
            return;
        const int done =
            int(after.size() - before.size()) + int(std::count(after.cbegin(), after.cend(), "b"));
        QVERIFY2(done > 0 && done < kFiles && !after.contains("index.htm"),
                 qPrintable(QString::number(done)));
        QVERIFY(statusLine().contains(u("操作被停止")));
        control<QAction>("undo")->trigger();
        waitForEndOfRun();
        QCOMPARE(snapshot(m_tmp->path()), before);
    }

    // A preview stops as a run does (closing the window asks nothing): none is shown, nothing changed,
    // and the window takes input at once.
    void stopPreview_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("停止") << "stop";
        QTest::newRow("closing the window") << "close";
    }
    void stopPreview()
    {
        QFETCH(QString, how);
        files(1000, "a");
        const auto before = snapshot(m_tmp->path());
        activate();
        fill({"Text3=a", "Text4=b"});
        QTRY_VERIFY_WITH_TIMEOUT(control<QAction>("preview")->isEnabled(), 5000);
        QStringList opened; // a preview shown after all is noted and closed
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (QWidget *modal = QApplication::activeModalWidget();
                modal && !qobject_cast<QMessageBox *>(modal))
                opened << modal->objectName(), modal->close();
        });
        watch.start(20);
        {
            SlowCalls slow(5000, "openat"); // every file is opened to be planned
            TORVALE_REQUIRE(slow.attached, "strace cannot trace this process");
            QTest::keyClick(m_form, Qt::Key_P, Qt::ControlModifier);
            QTRY_VERIFY_WITH_TIMEOUT(control<QProgressBar>("ProgressBar1")->value() > 0, 30000);
            if (how == "Escape")
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            else if (how == "stop")
                QTest::mouseClick(control<QPushButton>("stop"), Qt::LeftButton);
            else
                m_form->close();
            waitForEndOfRun();
        }
        QCOMPARE(opened, QStringList());
        QCOMPARE(snapshot(m_tmp->path()), before);
        QCOMPARE(m_boxes->texts, QStringList());
        QCOMPARE(m_form->isVisible(), how != "close");
        if (how != "close")
            QVERIFY(statusLine().contains(u("已停止预览")) && control("Command3")->isEnabled());
    }

    // At each scale (in a process of its own), an underscore in a folder's name shows, the tree shows
    // its focus, and the window fits a small screen, its controls scrolling into view.
    void scaled_data()
    {
        QTest::addColumn<QString>("scale");
        for (const char *scale : {"1", "1.5", "2"})
            QTest::newRow(scale) << scale;
    }
    void scaled()
    {
        QFETCH(QString, scale);
        if (qEnvironmentVariable("QT_SCALE_FACTOR") != scale) {
            qputenv("QT_SCALE_FACTOR", scale.toLatin1());
            const int failed =
                QProcess::execute(QCoreApplication::applicationFilePath(), {"scaled:" + scale});
            qunsetenv("QT_SCALE_FACTOR");
            QCOMPARE(failed, 0);
            return;
        }
        QVERIFY(QDir(m_tmp->path()).mkdir("___"));
        tree()->expand(folders()->index(m_tmp->path()));
        const QModelIndex underscores = folders()->index(m_tmp->path() + "/___");
        QTRY_VERIFY(tree()->visualRect(underscores).isValid());
        const QImage image = tree()->viewport()->grab(tree()->visualRect(underscores)).toImage();
        int ink = 0; // pixels of the text on the row's background, the row not selected
        for (int y = 1; y < image.height() - 1; ++y)
            for (int x = 4; x < image.width() - 4; ++x)
                ink += QColor(image.pixel(x, y)) != tree()->palette().color(QPalette::Base);
        QVERIFY2(ink > 0, "the underscores do not show");

        QVERIFY(m_form->screen()->availableGeometry().contains(m_form->frameGeometry()));
        // Each control that Tab reaches comes into view; the others by scrolling.
        auto *scroll = qobject_cast<QScrollArea *>(m_form->centralWidget());
        auto inView = [scroll](QWidget *control) {
            return scroll->viewport()->rect().intersects(
                QRect(control->mapTo(scroll->viewport(), QPoint()), control->size()));
        };
        QTRY_VERIFY(!control("Text1")->isEnabled()); // the rules have looked at the fields
        control("Drive1")->setFocus();
        const QImage unfocused = tree()->grab().toImage();
        for (const char *name : {"Dir1", "Text2", "Text9", "Text3", "Text4"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
            QVERIFY2(inView(QApplication::focusWidget()), name);
            if (tree()->hasFocus()) // the frame shows the focus
                QVERIFY(tree()->grab().toImage().pixel(0, 30) != unfocused.pixel(0, 30));
        }
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
        QVERIFY(inView(control("ProgressBar1")) && inView(control("Label1")) && inView(control("Command3")));
    }

    // Only an entry chosen from Combo1's list sets the width; typed text does not.
    void widthOnlyFromTheList()
    {
        auto *combo = control<QComboBox>("Combo1");
        combo->setEnabled(true);
        QTest::keyClicks(combo->lineEdit(), "4");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return); // Qt looks the text up in the list
        QCOMPARE(combo->property("chosen").toInt(), -1);
        combo->showPopup(); // "4" chosen from the list
        combo->view()->setCurrentIndex(combo->model()->index(2, 0));
        QTest::keyClick(combo->view(), Qt::Key_Return);
        QCOMPARE(combo->property("chosen").toInt(), 2);
        QTest::keyClicks(combo->lineEdit(), "5");
        QCOMPARE(combo->property("chosen").toInt(), -1);
    }

    // SIGTERM, SIGINT and SIGHUP end the program cleanly: the private copies
    // kept for undo go with it.
    void signalsEndCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    // A run of the window is taken back by torvale-cli, from the same history.
    void windowRunTakenBackByTheCommandLine()
    {
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        field("Text3")->setText("old");
        field("Text4")->setText("new");
        press("Command3");
        waitForEndOfRun();
        QCOMPARE(read(m_tmp->path(), QByteArray("a.txt")), "new");
        const Run undo = cli({"undo", m_tmp->path()}, {}, qEnvironmentVariable("XDG_STATE_HOME"));
        QVERIFY2(undo.exitCode == 0, qPrintable(undo.out + undo.err));
        QCOMPARE(read(m_tmp->path(), QByteArray("a.txt")), "old");
    }

    // A signal ends the program as a close does; the history of its runs
    // stays, to be taken back later.
    void signalsEndCleanly()
    {
        QFETCH(int, signal);
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        field("Text3")->setText("old");
        press("Command3");
        waitForEndOfRun();
        quit_on_signals();
        QTimer::singleShot(0, [signal] { ::raise(signal); });
        QCOMPARE(QApplication::exec(), 0);
        delete m_form;
        m_form = nullptr;
        QString error;
        const auto folder = torvale::Folder::open(m_tmp->path(), &error);
        QCOMPARE(torvale::History::open(&error)->runs(folder.get()).size(), size_t(1));
    }

    // The polling rules as pure functions: from every filled state that a
    // person can reach, the fields that hold text stay usable, so each can
    // be emptied again; the start buttons follow their fields.
    void inputRules_data()
    {
        QTest::addColumn<QString>("states"); // fields that hold text | enabled | losing the focus
        QTest::newRow("nothing") << " | Text2 Text9 Text3 Text4 | Text1 Combo1";
        QTest::newRow("S") << "Text2 | Text1 Combo1 Text2 Text9 Text3 Text4 | Text9 Text3 Text4";
        QTest::newRow("T") << "Text9 | Text2 Text9 | Text1 Combo1 Text2 Text3 Text4";
        QTest::newRow("F") << "Text3 | Text3 Text4 | Text1 Combo1 Text2 Text9";
        QTest::newRow("S+T") << "Text2 Text9 | Text1 Combo1 Text2 Text9 | Text3 Text4";
        QTest::newRow("S+F") << "Text2 Text4 | Text1 Combo1 Text2 Text3 Text4 | Text9 Text3";
        QTest::newRow("T+F") << "Text9 Text3 | Text9 Text3 | Text1 Combo1 Text2 Text4";
        QTest::newRow("S+T+F") << "Text2 Text9 Text3 | Text1 Combo1 Text2 Text9 Text3 | Text4";
        QTest::newRow("prefix and width left") << "Text1 Combo1 | Text1 Combo1 Text2 Text9 Text3 Text4 | ";
    }
    void inputRules()
    {
        QFETCH(QString, states);
        const QString filled = states.section(" | ", 0, 0), enabled = states.section(" | ", 1, 1),
                      losingFocus = states.section(" | ", 2, 2);
        const FieldTexts texts{filled.contains("Text1"), filled.contains("Combo1"), filled.contains("Text2"),
                               filled.contains("Text9"), filled.contains("Text3"),  filled.contains("Text4")};
        const FieldStates s = field_states(texts);
        const std::pair<const char *, FieldState> fields[] = {{"Text1", s.Text1}, {"Combo1", s.Combo1},
                                                              {"Text2", s.Text2}, {"Text9", s.Text9},
                                                              {"Text3", s.Text3}, {"Text4", s.Text4}};
        QStringList on, losing;
        for (const auto &[name, state] : fields) {
            if (state.enabled)
                on << name;
            if (state.losesFocus)
                losing << name;
        }
        QCOMPARE(on.join(' '), enabled);
        QCOMPARE(losing.join(' '), losingFocus);
        const ButtonStates b = button_states(texts);
        QCOMPARE(b.Command1, texts.S());
        QCOMPARE(b.Command2, texts.T());
        QCOMPARE(b.Command3, texts.F());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
