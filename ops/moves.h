#pragma once

#include "report.h"

#include "files/filename.h"
#include "files/folder.h"

#include <functional>
#include <vector>

namespace torvale {

// Renames within a folder: each file from[i] (with the stamp it was planned
// with; it must still be that file when it moves) gets the name to[i].
//
// Nothing is ever replaced: a file whose new name is still held by another
// of the batch waits under a temporary name (listed in the journal until the
// batch is done), and a failure puts back every file renamed before it, so
// that the folder ends fully renamed or as it was. Sets the report's status,
// message and count of files renamed; stepDone is called after each file of
// the list. Asked to stop, it puts back every file renamed, unless nearly all
// have their new names, when it finishes.
void execute_moves(const Folder &folder, const std::vector<Entry> &from, const std::vector<FileName> &to,
                   Report &report, const std::function<void()> &stepDone = {},
                   const StopRequest *stop = nullptr);

} // namespace torvale
