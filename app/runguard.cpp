#include "runguard.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {

// How often the window repaints during a run: often enough to look alive,
// seldom enough that the painting costs next to nothing.
constexpr int kRepaintMs = 50;

} // namespace

RunGuard::RunGuard(QProgressBar *bar) : m_bar(bar)
{
    m_sinceRepaint.start();
}

torvale::Progress RunGuard::progress()
{
    return [this](int value, int maximum) { update(value, maximum); };
}

void RunGuard::update(int value, int maximum)
{
    if (m_bar->maximum() != maximum)
        m_bar->setMaximum(maximum);
    m_bar->setValue(value);
    if (m_sinceRepaint.elapsed() < kRepaintMs)
        return;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceRepaint.restart();
}
