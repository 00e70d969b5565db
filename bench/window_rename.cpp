// Times a rename pressed in the real window: fields filled, Command1 clicked,
// until the run has ended. Prints the seconds and how often the progress bar moved.
// Usage: window_rename DIR

#include "app/form1.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Form1 form;
    form.show();
    form.chooseDirectory(QString::fromLocal8Bit(argv[1]));
    form.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("p"));
    form.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QStringLiteral("1"));
    form.findChild<QComboBox *>(QStringLiteral("Combo1"))->setCurrentIndex(4); // width 6

    QSet<int> values;
    auto *bar = form.findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { values.insert(v); });
    auto *status = form.findChild<QLabel *>(QStringLiteral("Label1"));
    auto *timer1 = form.findChild<QTimer *>(QStringLiteral("Timer1"));

    // The time of the tick itself: from the timer firing to the end of the run.
    QElapsedTimer clock;
    struct TickWatcher : QObject
    {
        QElapsedTimer *clock;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Timer && !clock->isValid())
                clock->start();
            return false;
        }
    } watcher;
    watcher.clock = &clock;
    timer1->installEventFilter(&watcher);
    // Press the button as soon as the polling rules enable it.
    auto *button = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [&] {
        if (!clock.isValid() && button->isEnabled() && status->text().isEmpty()) {
            button->click();
        } else if (clock.isValid() && status->text().isEmpty()) {
            std::printf("%.3f s, progress bar moved %lld times\n", clock.elapsed() / 1000.0,
                        qlonglong(values.size()));
            app.quit();
        }
    });
    poll->start(1);
    return app.exec();
}
