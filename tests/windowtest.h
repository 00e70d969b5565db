#pragma once

// Helpers for tests that drive the real window.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace windowtest {

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

} // namespace windowtest
