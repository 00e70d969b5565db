#pragma once

#include "filereader.h"
#include "folder.h"

namespace torvale {

// Keeps the file open in the reader, as it is, under a new name in another
// folder: the very same file (a hard link, costing no room) where both are
// on one file system and the system allows it, else a clone of its blocks
// where the file system offers one, else a copy. The kept file has the
// bytes and the mode of the original (a copy only its owner may read more
// than the original allowed). Not yet durable: the caller flushes a batch
// of them at once (Folder::sync_all). *linked says which it was.
// Fails when the file changed since it was opened.
bool keep_copy(FileReader &file, const Folder &into, const QByteArray &name, bool *linked, QString *error);

} // namespace torvale
