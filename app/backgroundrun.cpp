#include "backgroundrun.h"

#include <QProgressBar>
#include <QThread>
#include <QTimer>

namespace {

// How often the bar follows the work: often enough to look alive, seldom
// enough that painting costs the work nothing.
constexpr int kPollMs = 50;

} // namespace

BackgroundRun::BackgroundRun(QProgressBar *bar, QObject *parent) : QObject(parent), m_bar(bar)
{
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &BackgroundRun::showProgress);
}

BackgroundRun::~BackgroundRun()
{
    if (!m_thread)
        return;
    m_stop = true;
    m_thread->wait();
    delete m_thread;
}

void BackgroundRun::start(Work work, std::function<void()> done)
{
    Q_ASSERT(!m_thread);
    m_stop = false;
    m_value = 0;
    m_maximum = 0;
    m_done = std::move(done);
    m_thread = QThread::create([this, work = std::move(work)] {
        work(
            [this](int value, int maximum) {
                m_maximum.store(maximum, std::memory_order_relaxed);
                m_value.store(value, std::memory_order_relaxed);
            },
            &m_stop);
    });
    connect(m_thread, &QThread::finished, this, &BackgroundRun::finish);
    m_poll->start();
    m_thread->start();
}

void BackgroundRun::showProgress()
{
    const int maximum = m_maximum.load(std::memory_order_relaxed);
    if (maximum <= 0)
        return;
    if (m_bar->maximum() != maximum)
        m_bar->setMaximum(maximum);
    m_bar->setValue(m_value.load(std::memory_order_relaxed));
}

void BackgroundRun::finish()
{
    m_poll->stop();
    showProgress();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const std::function<void()> done = std::move(m_done);
    done();
}
