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
    // The bar paints itself at once when its value moves a pixel; setting it
    // only as often as the window repaints keeps that from costing the run.
    if (m_sinceRepaint.elapsed() < kRepaintMs && value != 0)
        return;
    m_bar->setValue(value);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceRepaint.restart();
}
