#pragma once

#include "ops/describe.h"

#include <QSet>

#include <map>
#include <memory>

// Why 查找替换 changes nothing without a search text.
extern const QString kNoSearchText;

// The plans that a preview shows, with the parameters they are made from;
// the one chosen there is the one that runs.
struct PreviewPlans
{
    torvale::RenameParams renaming;
    torvale::ConvertParams converting;
    torvale::ReplaceParams replacing;
    std::shared_ptr<const torvale::RenamePlan> rename;
    std::shared_ptr<const torvale::ConvertPlan> convert;
    std::shared_ptr<const torvale::ReplacePlan> replace;
    std::shared_ptr<const torvale::FileHits> hits; // in the files of replace, for a search that is not plain
    bool emptySearch = false;                      // 查找替换 was possible, but with no search text
    // The files each operation's preview has shown: those of its first plan,
    // and those that came since (shown left out).
    std::map<torvale::Operation, QSet<QByteArray>> seen;

    // Makes the operation's plan, reading the files as its run would,
    // without the files left out by name. A plan made again takes no file
    // that the preview has not shown: one that came since is left out too
    // (and returned), so that 执行 runs only what was seen ticked. Asked to
    // stop, the plan is refused. (On a worker: the plans a preview shows
    // meanwhile must be those of another copy.)
    QSet<QByteArray> make(torvale::Operation operation, const QSet<QByteArray> &leftOut,
                          const torvale::Progress &progress, const torvale::StopRequest *stop);
    // The operation's plan as the preview shows it.
    torvale::PlanTable table(torvale::Operation operation) const;
};
