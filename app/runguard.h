#pragma once

#include "ops/report.h"

#include <QElapsedTimer>

class QProgressBar;

// Keeps the window alive while an operation runs on the user-interface thread:
// moves the progress bar and, a few times a second, lets the window repaint.
// User input waits in the queue until the run ends, so the operation's
// inputs cannot change under it.
class RunGuard
{
public:
    explicit RunGuard(QProgressBar *bar);
    torvale::Progress progress();

private:
    void update(int value, int maximum);

    QProgressBar *m_bar;
    QElapsedTimer m_sinceRepaint;
};
