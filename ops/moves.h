#pragma once

#include "report.h"

#include "files/filename.h"
#include "files/folder.h"

#include <functional>
#include <vector>

namespace torvale {

struct RenameMove
{
    FileName from;
    FileName to;
    Stamp stamp; // the file planned at `from`; it must still be there when it moves
};

// Carries out renames within a folder, never replacing anything: a file whose
// new name is still held by another of the batch waits under a temporary
// name (listed in the journal until the batch is done), and a failure puts
// back every file renamed before it, so that the folder ends fully renamed
// or as it was. Sets the report's status, message and count of files
// renamed; stepDone is called after each move of the list.
void execute_moves(const Folder &folder, const std::vector<RenameMove> &moves, Report &report,
                   const std::function<void()> &stepDone = {});

} // namespace torvale
