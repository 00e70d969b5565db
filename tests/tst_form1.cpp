#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

using namespace testutil;
using namespace windowtest;

// Takes the place of the web browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestForm1 : public QObject
{
    Q_OBJECT

    template<typename T> T *control(const char *name)
    {
        T *found = m_form->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QLineEdit *field(const char *name) { return control<QLineEdit>(name); }
    QPushButton *button(const char *name) { return control<QPushButton>(name); }
    QLabel *status() { return control<QLabel>("Label1"); }

    // Fills the fields, lets both polling rules run once, and presses a button.
    void press(const char *buttonName)
    {
        m_form->Timer4_Timer();
        m_form->Timer5_Timer();
        QVERIFY(button(buttonName)->isEnabled());
        QTest::mouseClick(button(buttonName), Qt::LeftButton);
    }

    void waitForEndOfRun() { QTRY_VERIFY_WITH_TIMEOUT(status()->text().isEmpty(), 20000); }

    Form1 *m_form = nullptr;
    QTemporaryDir *m_tmp = nullptr;

private slots:
    void init()
    {
        m_tmp = new QTemporaryDir;
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

    void startUpState()
    {
        Form1 fresh;
        QCOMPARE(fresh.windowTitle(), QStringLiteral("TorvaleV2.0"));
        QCOMPARE(fresh.currentPath(), QDir::currentPath() + "/");
        for (const char *name : {"Command1", "Command2", "Command3"})
            QVERIFY(!fresh.findChild<QPushButton *>(name)->isEnabled());
        QVERIFY(fresh.findChild<QLabel *>("Label1")->text().isEmpty());
        const auto *combo = fresh.findChild<QComboBox *>("Combo1");
        QCOMPARE(combo->count(), 7);
        QCOMPARE(combo->itemText(0), "2");
        QCOMPARE(combo->itemText(6), "8");
        QCOMPARE(combo->currentIndex(), -1);
        QVERIFY(fresh.findChild<QLineEdit *>("Text1")->isEnabled()); // until the first tick
        QVERIFY(!(fresh.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(fresh.findChild<QTimer *>("Timer4")->isActive());
        QVERIFY(fresh.findChild<QTimer *>("Timer5")->isActive());
        QVERIFY(!fresh.findChild<QTimer *>("Timer1")->isActive());
        QCOMPARE(fresh.centralWidget()->size(), QSize(468, 371));
        for (const char *name : {"end", "con", "man"})
            QVERIFY2(fresh.findChild<QAction *>(name), name);
    }

    void controlPlaces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Image1") << "Image1" << QRect(0, 0, 468, 60);
        QTest::newRow("Dir1") << "Dir1" << QRect(168, 88, 289, 104);
        QTest::newRow("Text2") << "Text2" << QRect(208, 216, 49, 18);
        QTest::newRow("Command2") << "Command2" << QRect(384, 248, 73, 25);
        QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(48, 344, 297, 17);
        QTest::newRow("Label1") << "Label1" << QRect(408, 344, 57, 17);
    }
    void controlPlaces()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QWidget *widget = m_form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
        m_form->resize(700, 600); // the frame grows, the controls stay
        QCOMPARE(widget->geometry(), geometry);
    }

    void bannerOpensTheHomepage()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        QTest::mouseClick(control<QLabel>("Image1"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(catcher.urls.size(), 1);
        QVERIFY(catcher.urls[0].isValid());
        QVERIFY(catcher.urls[0].host().endsWith("example.com"));
    }

    void renameThroughTheTimer()
    {
        write(m_tmp->path(), "b.JPG", "b");
        write(m_tmp->path(), "a.jpg", "a");
        field("Text1")->setText(u("照片"));
        field("Text2")->setText("1");
        control<QComboBox>("Combo1")->setCurrentIndex(1); // width 3
        press("Command1");
        QCOMPARE(status()->text(), u("正在更名"));
        QVERIFY(control<QTimer>("Timer1")->isActive());
        waitForEndOfRun();
        QVERIFY(!control<QTimer>("Timer1")->isActive());
        QCOMPARE(control<QProgressBar>("ProgressBar1")->value(), 0);
        QCOMPARE(read(m_tmp->path(), u("照片001.jpg")), QByteArray("a"));
        QCOMPARE(read(m_tmp->path(), u("照片002.jpg")), QByteArray("b"));
    }

    void widthMessage()
    {
        for (const char *name : {"a", "b", "c"})
            write(m_tmp->path(), name, name);
        const auto before = snapshot(m_tmp->path());
        field("Text2")->setText("98");
        control<QComboBox>("Combo1")->setCurrentIndex(0); // width 2
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        when_modal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->accept();
        });
        press("Command1");
        waitForEndOfRun();
        QCOMPARE(title, u("出错"));
        QCOMPARE(text, u("整合数小于序数的位数，请返回选择一个较大的整合数！"));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(snapshot(m_tmp->path()), before);
        QCOMPARE(control<QProgressBar>("ProgressBar1")->value(), 0);
    }

    // Two presses within one timer interval give one run.
    void twoQuickPressesGiveOneRun()
    {
        write(m_tmp->path(), "f.txt", "a");
        field("Text3")->setText("a");
        field("Text4")->setText("aa");
        press("Command3");
        QTest::mouseClick(button("Command3"), Qt::LeftButton);
        QCOMPARE(status()->text(), u("正在替换"));
        waitForEndOfRun();
        QCOMPARE(read(m_tmp->path(), "f.txt"), QByteArray("aa"));
    }

    void replaceReportsSkippedFiles()
    {
        write(m_tmp->path(), "good.txt", gbk(u("旧")));
        write(m_tmp->path(), "image.bin", QByteArray("\0旧\0", 5) + gbk(u("旧")));
        field("Text3")->setText(u("旧"));
        field("Text4")->setText(u("新"));
        QString text;
        when_modal([&](QWidget *modal) {
            text = qobject_cast<QMessageBox *>(modal)->text();
            modal->close();
        });
        press("Command3");
        waitForEndOfRun();
        QCOMPARE(read(m_tmp->path(), "good.txt"), gbk(u("新")));
        QVERIFY2(text.contains("image.bin"), qPrintable(text));
    }

    void convertThroughTheTimer()
    {
        write(m_tmp->path(), "a.txt", gbk(u("第一章\r\n正文")));
        field("Text9")->setText(u("小说"));
        press("Command2");
        QCOMPARE(status()->text(), u("正在转换"));
        waitForEndOfRun();
        QVERIFY(QFile::exists(QDir(m_tmp->path()).filePath("a.htm")));
        QVERIFY(read(m_tmp->path(), "index.htm").contains(gbk(u("小说目录</H2>"))));
    }

    // The polling rules, from the texts of the fields to the enabled states.
    void inputRules_data()
    {
        QTest::addColumn<QString>("text2");
        QTest::addColumn<QString>("text9");
        QTest::addColumn<QString>("text3");
        QTest::addColumn<QString>("text4");
        QTest::addColumn<QString>("enabled"); // the fields and buttons enabled after the ticks
        QTest::newRow("nothing filled") << "" << "" << "" << "" << "Text2 Text9 Text3 Text4";
        QTest::newRow("start number") << "1" << "" << "" << "" << "Text1 Combo1 Text2 Text9 Text3 Text4 Command1";
        QTest::newRow("spaces count as text") << " " << "" << "" << ""
                                              << "Text1 Combo1 Text2 Text9 Text3 Text4 Command1";
        QTest::newRow("index title") << "" << "t" << "" << "" << "Text2 Text9 Command2";
        QTest::newRow("search text") << "" << "" << "s" << "" << "Text3 Text4 Command3";
        QTest::newRow("replacement text alone") << "" << "" << "" << "r" << "Text3 Text4 Command3";
        QTest::newRow("start number and title") << "1" << "t" << "" << ""
                                                << "Text1 Combo1 Text2 Text9 Command1 Command2";
        // Would disable every filled field for good; those stay usable.
        QTest::newRow("title and search text") << "" << "t" << "s" << "" << "Text9 Text3 Text4 Command2 Command3";
    }
    void inputRules()
    {
        QFETCH(QString, text2);
        QFETCH(QString, text9);
        QFETCH(QString, text3);
        QFETCH(QString, text4);
        QFETCH(QString, enabled);
        field("Text2")->setText(text2);
        field("Text9")->setText(text9);
        field("Text3")->setText(text3);
        field("Text4")->setText(text4);
        m_form->Timer4_Timer();
        m_form->Timer5_Timer();
        QStringList seen;
        for (const char *name : {"Text1", "Combo1", "Text2", "Text9", "Text3", "Text4", "Command1", "Command2",
                                 "Command3"}) {
            if (m_form->findChild<QWidget *>(name)->isEnabled())
                seen << name;
        }
        QCOMPARE(seen.join(' '), enabled);
    }

    // A field disabled and enabled again within a tick loses the focus; a
    // field the mended rule keeps enabled keeps it.
    void focus()
    {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
        field("Text9")->setFocus();
        field("Text2")->setText("1");
        m_form->Timer5_Timer();
        QVERIFY(field("Text9")->isEnabled());
        QVERIFY(!field("Text9")->hasFocus());

        field("Text2")->clear();
        field("Text9")->setText("t");
        field("Text3")->setText("s");
        m_form->Timer5_Timer();
        field("Text3")->setFocus();
        m_form->Timer5_Timer();
        QVERIFY(field("Text3")->hasFocus());
        // The way out: empty the fields, and the usual rules come back.
        field("Text3")->clear();
        m_form->Timer5_Timer();
        QVERIFY(!field("Text3")->isEnabled());
        field("Text9")->clear();
        m_form->Timer5_Timer();
        QVERIFY(field("Text3")->isEnabled());
        QVERIFY(field("Text2")->isEnabled());
    }

    // "预览…" follows the start buttons; "撤销上次操作" is there only after a run
    // that changed something, and takes it back after a confirmation.
    void previewRunAndUndo()
    {
        auto *preview = control<QAction>("preview");
        auto *undo = control<QAction>("undo");
        QVERIFY(!preview->isEnabled());
        QVERIFY(!undo->isEnabled());
        write(m_tmp->path(), "a.txt", "old");
        write(m_tmp->path(), "b.txt", "untouched");
        field("Text3")->setText("old");
        field("Text4")->setText("new");
        m_form->Timer4_Timer();
        QVERIFY(preview->isEnabled());

        QStringList rows;
        when_modal([&](QWidget *dialog) {
            auto *table = dialog->findChild<QTableView *>("table");
            for (int r = 0; r < table->model()->rowCount(); ++r)
                rows << table->model()->index(r, 0).data().toString() + " " + table->model()->index(r, 1).data().toString();
            QCOMPARE(read(m_tmp->path(), "a.txt"), QByteArray("old")); // nothing changed yet
            dialog->findChild<QPushButton *>("run")->click();
        });
        preview->trigger();
        QCOMPARE(rows, QStringList{u("a.txt 替换 1 处")});
        QCOMPARE(status()->text(), u("正在替换")); // through the button's own path
        waitForEndOfRun();
        QCOMPARE(read(m_tmp->path(), "a.txt"), QByteArray("new"));
        QVERIFY(undo->isEnabled());

        QString question;
        when_modal([&](QWidget *box) {
            question = qobject_cast<QMessageBox *>(box)->text();
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
        });
        undo->trigger();
        QVERIFY2(question.contains(u("查找替换")) && question.contains("1"), qPrintable(question));
        QCOMPARE(read(m_tmp->path(), "a.txt"), QByteArray("old"));
        QCOMPARE(read(m_tmp->path(), "b.txt"), QByteArray("untouched"));
        QVERIFY(!undo->isEnabled());
    }

    // The real timers bring the button in line within their interval.
    void pollingTimersTick()
    {
        field("Text2")->setText("5");
        QTRY_VERIFY_WITH_TIMEOUT(button("Command1")->isEnabled(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(field("Text1")->isEnabled(), 5000);
        field("Text2")->clear();
        QTRY_VERIFY_WITH_TIMEOUT(!button("Command1")->isEnabled(), 5000);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
