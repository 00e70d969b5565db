#pragma once

#include "report.h"

#include <QList>

#include <memory>

namespace torvale {

// Takes back the changes of a run in the folder, newest first. Every change is
// checked before anything is touched: a file that was changed, renamed or
// removed since the run (its stamp differs), or whose old name is taken
// again, is left alone and reported; everything else goes back, each file
// atomically. Never writes over a file the run did not leave there. The
// former bytes of rewritten files come from the backup folder.
Report undo_changes(const std::shared_ptr<Folder> &folder, const QList<Change> &changes,
                    const Folder *backups, const Progress &progress = {});

} // namespace torvale
