#pragma once

#include "folder.h"

#include <QString>

#include <vector>

namespace torvale {

// The order in which file managers show names: runs of digits compare by their
// value, everything else case-insensitively character by character, so that
// 2.txt comes before 10.txt and IMG_9 before img_10. The same on every machine.
// Two names that show the same are ordered by their bytes.
bool natural_less(const FileName &a, const FileName &b);

struct Listing
{
    std::vector<Entry> plain;  // regular files that are not hidden, in natural order
    std::vector<Entry> others; // every other entry: hidden files, folders, links, FIFOs... (unsorted)
};

// Every entry of the folder, read before the caller changes anything. Plain
// files are regular files only: no folders, links, FIFOs, sockets or
// devices, and no hidden files.
bool list_folder(const Folder &folder, Listing *listing, QString *error);

} // namespace torvale
