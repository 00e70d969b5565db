#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"
#include "dialogs/form2.h"
#include "dialogs/form3.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace testutil;
using namespace windowtest;

class TestDialogs : public QObject
{
    Q_OBJECT

    // Every text shows whole in its label, within its window, and no text covers another.
    static void textsFitIn(QWidget *window)
    {
        QList<QRect> texts;
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->isVisibleTo(window))
                continue;
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(QPoint(), label->size()), Qt::TextWordWrap | label->alignment(), label->text());
            const QPoint at = label->mapTo(window, QPoint());
            const QString where = window->objectName() + "/" + label->objectName() + " " + label->text();
            QVERIFY2(QRect(QPoint(), label->size()).contains(needed), qPrintable(where));
            QVERIFY2(window->rect().contains(QRect(at, label->size())), qPrintable(where));
            for (const QRect &other : texts)
                QVERIFY2(!other.intersects(needed.translated(at)), qPrintable(where));
            texts << needed.translated(at);
        }
    }

private slots:
    // Every text of the window and the dialogs fits its label, with the
    // fonts the program chooses at 96 dpi.
    void textsFit()
    {
        Form1 form;
        Form2 help;
        Form3 author;
        for (QWidget *window : std::initializer_list<QWidget *>{form.centralWidget(), &help, &author})
            textsFitIn(window);
    }

    // 选项 shows its texts whole, also what it says of the search text once 正则表达式 is ticked, at
    // every scale of the screen (set as the program starts: another run of this test).
    void optionsTextsFit_data()
    {
        QTest::addColumn<QByteArray>("scale");
        QTest::addColumn<QString>("find");
        const QString wrong = "(日期|时间)(\\d+[年月](\\d+日|(?<x>\\d+)";
        for (const char *scale : {"1", "1.5", "2"}) {
            QTest::addRow("a wrong expression, scale %s", scale) << QByteArray(scale) << wrong;
            QTest::addRow("a long valid one, scale %s", scale)
                << QByteArray(scale) << (QString(wrong).remove("(?<x>") + ")").repeated(2);
        }
    }
    void optionsTextsFit()
    {
        QFETCH(QByteArray, scale);
        QFETCH(QString, find);
        if (qgetenv("QT_SCALE_FACTOR") != scale) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_SCALE_FACTOR", scale);
            run.setProcessEnvironment(environment);
            run.start(QCoreApplication::applicationFilePath(),
                      {QString("optionsTextsFit:") + QTest::currentDataTag()});
            QVERIFY(run.waitForFinished(60000));
            QVERIFY2(run.exitCode() == 0, run.readAllStandardOutput().constData());
            return;
        }
        Form1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.findChild<QLineEdit *>("Text3")->setText(find);
        bool checked = false;
        when_modal([&](QWidget *dialog) {
            auto *regex = dialog->findChild<QCheckBox *>("regex");
            QTest::mouseClick(regex, Qt::LeftButton, {}, QPoint(6, regex->height() / 2));
            QTRY_VERIFY(dialog->findChild<QLabel *>("expressionCheck")->isVisible());
            textsFitIn(dialog);
            checked = !QTest::currentTestFailed();
        });
        form.findChild<QAction *>("options")->trigger();
        QVERIFY(checked);
    }

    // Each menu entry opens a modal dialog whose OK button has the focus;
    // Enter or Space closes it and the dialog is gone; the next opening is fresh.
    void openFromTheMenu_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("dialogName");
        QTest::addColumn<int>("key");
        QTest::newRow("help, Enter") << "con"
                                     << "Form2" << int(Qt::Key_Return);
        QTest::newRow("author, Space") << "man"
                                       << "Form3" << int(Qt::Key_Space);
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
            buttonsEnabledMeanwhile =
                QTest::qWaitFor([&] { return form.findChild<QPushButton *>("Command1")->isEnabled(); }, 3000);
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
