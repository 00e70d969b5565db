#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace testutil;
using namespace windowtest;

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void helpTexts_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::newRow("Label1") << "Label1" << u("软件使用说明：");
        QTest::newRow("Label2, four leading spaces")
            << "Label2"
            << u("    该软件主要有三个功能，可以对同一个文件夹内的所有文件进行更名、TXT生成HTML文件、查找替换。请按以下步骤操作：");
        QTest::newRow("Label6, typographic quotes") << "Label6"
            << u("3、TXT生成HTML时，索引文件标题必须填写，填写了索引文件标题后[TXT→HTML]按钮生效（索引文件标题为空，[TXT→HTML]按钮失效）。"
                 "HTML文件与原文本文件文件名相同。文本文件的第一行文字将作为HTML文件的标题。同时产生一个文件名为“index.htm”的索引文件。");
        QTest::newRow("Label8") << "Label8" << u("注意：不要在 C:\\ （或其它系统文件目录）下操作！否则有可能会损坏系统文件！");
    }
    void helpTexts()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        Form2 dialog;
        QCOMPARE(dialog.windowTitle(), u("帮助"));
        QCOMPARE(dialog.findChild<QLabel *>(label)->text(), text);
        QCOMPARE(dialog.size(), QSize(299, 388));
        QVERIFY(dialog.findChild<QLabel *>("Label2")->geometry().right() >= dialog.width()); // cut off
    }

    void authorDialog()
    {
        Form3 dialog;
        QCOMPARE(dialog.windowTitle(), u("作者信息"));
        QCOMPARE(dialog.size(), QSize(294, 94));
        QCOMPARE(dialog.findChild<QLabel *>("Label1")->text(), u("软件作者："));
        QVERIFY(dialog.findChild<QLabel *>("Label2")->text().contains(QRegularExpression("    \\d{4}\\.\\d{1,2}\\.\\d{1,2}$")));
        QVERIFY(dialog.findChild<QLabel *>("Label3")->text().startsWith(u("电子邮件：")));
        QVERIFY(dialog.findChild<QLabel *>("Label4")->text().startsWith(u("主页地址：")));
        QCOMPARE(dialog.palette().color(QPalette::Window), QColor(0xFF, 0xFF, 0xC0));
    }

    // Each menu entry opens a modal dialog whose OK button has the focus;
    // Enter or Space closes it and the dialog is gone; the next opening is fresh.
    void openFromTheMenu_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("dialogName");
        QTest::addColumn<int>("key");
        QTest::newRow("help, Enter") << "con" << "Form2" << int(Qt::Key_Return);
        QTest::newRow("author, Space") << "man" << "Form3" << int(Qt::Key_Space);
    }
    void openFromTheMenu()
    {
        QFETCH(QString, entry);
        QFETCH(QString, dialogName);
        QFETCH(int, key);
        Form1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.findChild<QLineEdit *>("Text2")->setText("1");

        QPointer<QWidget> first;
        bool modal = false, focused = false, buttonsEnabledMeanwhile = false;
        when_modal([&](QWidget *dialog) {
            first = dialog;
            modal = dialog->isModal() && dialog->objectName() == dialogName;
            focused = dialog->focusWidget() == dialog->findChild<QPushButton *>("Command1");
            // The main window's polling goes on while the dialog is open.
            buttonsEnabledMeanwhile = QTest::qWaitFor(
                [&] { return form.findChild<QPushButton *>("Command1")->isEnabled(); }, 3000);
            QTest::keyClick(dialog->focusWidget(), Qt::Key(key));
        });
        form.findChild<QAction *>(entry)->trigger();
        QVERIFY(modal);
        QVERIFY(focused);
        QVERIFY(buttonsEnabledMeanwhile);
        QVERIFY(first.isNull()); // destroyed on closing

        bool secondIsNew = false;
        when_modal([&](QWidget *dialog) {
            secondIsNew = dialog->objectName() == dialogName && first.isNull();
            dialog->findChild<QPushButton *>("Command1")->click();
        });
        form.findChild<QAction *>(entry)->trigger();
        QVERIFY(secondIsNew);
        QVERIFY(!form.findChild<QDialog *>());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
