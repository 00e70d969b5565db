#pragma once

#include "ops/describe.h"

#include <QSet>

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

    // Makes the operation's plan, reading the files as its run would,
    // without the files left out by name. (On a worker: the plans a preview
    // shows meanwhile must be those of another copy.)
    void make(torvale::Operation operation, const QSet<QByteArray> &leftOut,
              const torvale::Progress &progress);
    // The operation's plan as the preview shows it.
    torvale::PlanTable table(torvale::Operation operation) const;
};
