#pragma once

#include "ops/report.h"

#include <QObject>

#include <atomic>
#include <functional>

class QProgressBar;
class QThread;
class QTimer;

// Runs one piece of long work (an operation, its undo, the plans of a
// preview) on a thread of its own, so that the window stays responsive and
// the person can stop the work. The progress bar follows it.
class BackgroundRun : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<void(const torvale::Progress &, const torvale::StopRequest *)>;

    BackgroundRun(QProgressBar *bar, QObject *parent);
    // Asks running work to stop and waits for it: a rename still puts its
    // files back when the program ends during it.
    ~BackgroundRun() override;

    // Starts the work; done is called on this thread once it has ended.
    void start(Work work, std::function<void()> done);
    bool running() const { return m_thread != nullptr; }
    void stop() { m_stop = true; }
    bool stopping() const { return m_stop; }

private:
    void showProgress();
    void finish();

    QProgressBar *m_bar;
    QTimer *m_poll;
    QThread *m_thread = nullptr;
    std::function<void()> m_done;
    torvale::StopRequest m_stop{false};
    // Written by the work, read by the window a few times a second.
    std::atomic<int> m_value{0};
    std::atomic<int> m_maximum{0};
};
