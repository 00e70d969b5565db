// The main window, driven through its controls with its real timers.

#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"
#include "app/inputrules.h"
#include "app/startup.h"

#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
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
    QLineEdit *field(const char *name) { return control<QLineEdit>(name); }
    QLabel *status() { return control<QLabel>("Label1"); }

    // Presses a start button once the polling rules have enabled it.
    void press(const char *buttonName)
    {
        QTRY_VERIFY_WITH_TIMEOUT(control(buttonName)->isEnabled(), 5000);
        QTest::mouseClick(control<QPushButton>(buttonName), Qt::LeftButton);
    }
    void waitForEndOfRun() { QTRY_VERIFY_WITH_TIMEOUT(status()->text().isEmpty(), 30000); }

    Form1 *m_form = nullptr;
    TempDir *m_tmp = nullptr;

private slots:
    void initTestCase() { install_translations(*qApp); }
    void init()
    {
        m_tmp = new TempDir;
        m_form = new Form1;
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
        m_form->chooseDirectory(m_tmp->path());
        QCOMPARE(m_form->currentPath(), m_tmp->path() + "/");
    }
    void cleanup()
    {
        delete m_form;
        delete m_tmp;
    }

    // Each button names its operation in Label1 and runs it at its timer's
    // tick; at the end Label1 is empty and the progress bar at 0. A file
    // whose name is GBK bytes is handled like the others.
    void operations_data()
    {
        QTest::addColumn<QStringList>("fields"); // name=value
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("rename") << QStringList{"Text2=1", u("Text1=照片")} << "Command1" << u("正在更名")
                                << u("照片002.txt").toUtf8() << QByteArray("old");
        QTest::newRow("convert") << QStringList{u("Text9=小说")} << "Command2" << u("正在转换")
                                 << gbk(u("旧.htm")) << QByteArray("<HTML>");
        QTest::newRow("replace") << QStringList{"Text3=old", u("Text4=新old")} << "Command3" << u("正在替换")
                                 << gbk(u("旧.txt")) << gbk(u("新old"));
    }
    void operations()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, button);
        QFETCH(QString, caption);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, bytes);
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        write(m_tmp->path(), gbk(u("旧.txt")), "old");
        for (const QString &f : fields) {
            field(f.section('=', 0, 0).toLatin1().constData())->setText(f.section('=', 1));
            if (f.startsWith("Text2")) // the prefix field opens with the start number
                QTRY_VERIFY_WITH_TIMEOUT(field("Text1")->isEnabled(), 5000);
        }
        control<QComboBox>("Combo1")->setCurrentIndex(1); // width 3
        press(button.toLatin1().constData());
        press(button.toLatin1().constData()); // a second press within the interval: still one run
        QCOMPARE(status()->text(), caption);
        waitForEndOfRun();
        QCOMPARE(control<QProgressBar>("ProgressBar1")->value(), 0);
        QVERIFY2(read(m_tmp->path(), file).startsWith(bytes), file.constData());
    }

    // 预览… shows the plan; 执行 applies that plan, and a file changed in
    // between is reported rather than rewritten. Undo takes the run back.
    void previewRunAndUndo()
    {
        auto *undo = control<QAction>("undo");
        QVERIFY(!undo->isEnabled());
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        write(m_tmp->path(), QByteArray("b.txt"), "old");
        field("Text3")->setText("old");
        field("Text4")->setText("new");
        QTRY_VERIFY_WITH_TIMEOUT(control<QAction>("preview")->isEnabled(), 5000);
        QStringList rows, message;
        QString tooltip;
        when_modal([&](QWidget *dialog) {
            auto *model = dialog->findChild<QTableView *>("table")->model();
            for (int r = 0; r < model->rowCount(); ++r)
                rows << model->index(r, 0).data().toString() + " " + model->index(r, 1).data().toString();
            tooltip = model->index(0, 1).data(Qt::ToolTipRole).toString();
            write(m_tmp->path(), QByteArray("b.txt"), "old, changed since");
            when_modal([&](QWidget *box) { message << qobject_cast<QMessageBox *>(box)->text(); });
            dialog->findChild<QPushButton *>("run")->click();
        });
        control<QAction>("preview")->trigger();
        waitForEndOfRun();
        QCOMPARE(rows, (QStringList{u("a.txt 替换 1 处"), u("b.txt 替换 1 处")}));
        QCOMPARE(tooltip, u("替换 1 处")); // a long reason can be read whole
        QVERIFY2(message.join("").contains("b.txt"), qPrintable(message.join("")));
        QCOMPARE(read(m_tmp->path(), QByteArray("a.txt")), "new");
        QCOMPARE(read(m_tmp->path(), QByteArray("b.txt")), "old, changed since");
        QVERIFY(undo->isEnabled());

        // Undo runs like an operation: its caption, the progress bar, Qt's
        // own texts in Chinese.
        QString yes, caption;
        int maximum = 0;
        when_modal([&](QWidget *box) {
            yes = qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->text();
            // The window handles events while undo runs: this looks in then.
            QTimer::singleShot(0, this, [&] {
                caption = status()->text();
                maximum = control<QProgressBar>("ProgressBar1")->maximum();
            });
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
        });
        undo->trigger();
        waitForEndOfRun();
        QVERIFY2(yes.contains(u("是")), qPrintable(yes));
        QCOMPARE(caption, u("正在撤销"));
        QCOMPARE(maximum, 2); // one change, plus one
        QCOMPARE(read(m_tmp->path(), QByteArray("a.txt")), "old");
        QVERIFY(!undo->isEnabled());
    }

    // Keys typed at human speed, over several ticks of the polling timers,
    // after a click into a field that the rules then take the focus from:
    // the focus goes to no control, so the keys press no start button and
    // switch no drive.
    void humanTyping_data()
    {
        QTest::addColumn<QString>("first");  // the field typed into first
        QTest::addColumn<QString>("second"); // the field clicked into then
        QTest::newRow("start number after an index title") << "Text9"
                                                           << "Text2";
        QTest::newRow("search text after a start number") << "Text2"
                                                          << "Text3";
        QTest::newRow("index title after a start number") << "Text2"
                                                          << "Text9";
    }
    void humanTyping()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        write(m_tmp->path(), QByteArray("a.txt"), "a b a");
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
        QTest::mouseClick(field(first.toLatin1().constData()), Qt::LeftButton);
        QTest::keyClick(m_form->windowHandle(), Qt::Key_A);
        QTest::qWait(450); // a person's pause: the rules look at the fields meanwhile
        QTest::mouseClick(field(second.toLatin1().constData()), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), m_form->centralWidget(),
                                  5000); // the next tick takes it
        for (Qt::Key key :
             {Qt::Key_A, Qt::Key_Space, Qt::Key_B, Qt::Key_Space, Qt::Key_Return, Qt::Key_Down}) {
            QTest::qWait(150); // a key every 150 ms
            QTest::keyClick(m_form->windowHandle(), key);
        }
        QCOMPARE(QApplication::focusWidget(), m_form->centralWidget()); // no control
        QVERIFY(field(second.toLatin1().constData())->text().isEmpty());
        QVERIFY(status()->text().isEmpty());
        for (const char *timer : {"Timer1", "Timer2", "Timer3"})
            QVERIFY(!control<QTimer>(timer)->isActive());
        QCOMPARE(m_form->currentPath(), m_tmp->path() + "/");
    }

    // The folder tree follows the disk after any number of runs.
    void treeFollowsTheDisk()
    {
        auto *tree = control<QTreeView>("Dir1");
        auto model = [tree] { return qobject_cast<QFileSystemModel *>(tree->model()); };
        QVERIFY(QDir(m_tmp->path()).mkdir("before"));
        tree->expand(model()->index(m_tmp->path())); // read and watched before the runs
        QTRY_COMPARE_WITH_TIMEOUT(model()->rowCount(model()->index(m_tmp->path())), 1, 10000);
        const QString before = m_tmp->path() + "/before";
        tree->setCurrentIndex(model()->index(before)); // chosen in the tree, as a click would
        field("Text3")->setText("zzz");
        for (int run = 0; run < 2; ++run) {
            press("Command3");
            waitForEndOfRun();
            QCOMPARE(m_form->currentPath(), before + "/"); // the folder stays chosen
        }
        tree->expand(model()->index(m_tmp->path()));
        QVERIFY(QDir(m_tmp->path()).mkdir("after"));
        QTRY_COMPARE_WITH_TIMEOUT(model()->rowCount(model()->index(m_tmp->path())), 2, 10000);
        QVERIFY(QDir(m_tmp->path()).rmdir("after"));
        QTRY_COMPARE_WITH_TIMEOUT(model()->rowCount(model()->index(m_tmp->path())), 1, 10000);
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
    void signalsEndCleanly()
    {
        QFETCH(int, signal);
        TempDir temp;
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        write(m_tmp->path(), QByteArray("a.txt"), "old");
        field("Text3")->setText("old");
        press("Command3");
        waitForEndOfRun();
        qunsetenv("TMPDIR");
        QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
        quit_on_signals();
        QTimer::singleShot(0, [signal] { ::raise(signal); });
        QCOMPARE(QApplication::exec(), 0);
        delete m_form;
        m_form = nullptr;
        QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
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
