#pragma once

#include "report.h"

#include <QList>
#include <QString>

namespace torvale {

// Takes back the changes of a run in the folder, newest first. Every change is
// checked before anything is touched: a file that was changed, renamed or
// removed since the run (its fingerprint differs), or whose old name is taken
// again, is left alone and reported; everything else goes back, each file
// atomically. Never writes over a file the run did not leave there.
Report undo_changes(const QString &dir, const QList<Change> &changes);

} // namespace torvale
