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
    // Every text of the window and the dialogs fits its label, with the
    // fonts the program chooses at 96 dpi; every label lies within its window
    // and no text covers another.
    void textsFit()
    {
        Form1 form;
        Form2 help;
        Form3 author;
        for (QWidget *window : std::initializer_list<QWidget *>{form.centralWidget(), &help, &author}) {
            QList<QRect> texts;
            for (QLabel *label : window->findChildren<QLabel *>()) {
                const QRect needed = label->fontMetrics().boundingRect(
                    QRect(QPoint(), label->size()), Qt::TextWordWrap | label->alignment(), label->text());
                const QString where = window->objectName() + "/" + label->objectName();
                QVERIFY2(QRect(QPoint(), label->size()).contains(needed), qPrintable(where));
                QVERIFY2(window->rect().contains(label->geometry()), qPrintable(where));
                for (const QRect &other : texts)
                    QVERIFY2(!other.intersects(needed.translated(label->pos())), qPrintable(where));
                texts << needed.translated(label->pos());
            }
        }
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
