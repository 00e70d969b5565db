#pragma once

// Helpers for tests that drive the real window.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace windowtest {

// The window's settings are kept in a folder of the tests, never the user's.
inline const QTemporaryDir kConfigHome;
inline const bool kConfigHomeSet = qputenv("XDG_CONFIG_HOME", QFile::encodeName(kConfigHome.path()));

// Runs the function on the next modal window to open (a dialog or a message
// box), from inside its event loop, then closes it unless the function did.
inline void when_modal(std::function<void(QWidget *)> handle, int triesLeft = 250)
{
    QTimer::singleShot(20, qApp, [handle = std::move(handle), triesLeft]() mutable {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (triesLeft > 0)
                when_modal(std::move(handle), triesLeft - 1);
            return;
        }
        handle(modal);
        if (QApplication::activeModalWidget() == modal)
            modal->close();
    });
}

// Answers every message box as it opens, with the button given (or OK),
// and keeps its text and its place.
struct BoxAnswerer
{
    QStringList texts;
    QList<QRect> geometries;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QTimer timer;
    BoxAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                geometries << box->frameGeometry();
                (box->button(answer) ? box->button(answer) : box->button(QMessageBox::Ok))->click();
            }
        });
        timer.start(20);
    }
};

// Slows every rename (or the calls given) of this process from outside, with
// strace, so that a run lasts long enough to be stopped at a person's pace.
// attached is false where strace cannot trace.
struct SlowCalls
{
    QProcess strace;
    bool attached = false;
    explicit SlowCalls(int microseconds, const QString &calls = "rename,renameat,renameat2")
    {
        strace.start("strace", {"-f", "-o", "/dev/null", "-p",
                                QString::number(QCoreApplication::applicationPid()), "-e", "trace=" + calls,
                                "-e", QString("inject=%1:delay_enter=%2").arg(calls).arg(microseconds)});
        QByteArray said;
        (void)QTest::qWaitFor(
            [&] { return (said += strace.readAllStandardError()).contains("attached") || !strace.state(); },
            10000);
        attached = said.contains("attached");
    }
    ~SlowCalls()
    {
        strace.terminate();
        strace.waitForFinished(10000);
    }
};

} // namespace windowtest
