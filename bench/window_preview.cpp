// Times the window's preview of a rename: fields filled, 预览… chosen, until
// the dialog with its table is on screen. Prints the processor time spent.
// Usage: window_preview DIR

#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <ctime>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Form1 form;
    form.show();
    form.chooseDirectory(QString::fromLocal8Bit(argv[1]));
    form.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QStringLiteral("1"));
    auto *preview = form.findChild<QAction *>(QStringLiteral("preview"));
    std::clock_t started = 0;
    auto *poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [&] {
        if (started == 0 && preview->isEnabled()) {
            started = std::clock();
            preview->trigger(); // the plans are made in the background; the dialog follows
            return;
        }
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        auto *table = dialog ? dialog->findChild<QTableView *>(QStringLiteral("table")) : nullptr;
        if (started == 0 || !table)
            return;
        table->repaint();
        std::printf("%.3f s of processor time, %d rows\n", double(std::clock() - started) / CLOCKS_PER_SEC,
                    table->model()->rowCount());
        dialog->reject();
        app.quit();
    });
    poll->start(10);
    return app.exec();
}
