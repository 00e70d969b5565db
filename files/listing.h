#pragma once

#include <QString>
#include <QStringList>

namespace torvale {

// The extension of a file name: everything after its first dot, or the whole
// name when it has none, in lower case ("archive.tar.GZ" -> "tar.gz").
QString extension_of(const QString &name);

// The order in which file managers show names: runs of digits compare by their
// value, everything else case-insensitively character by character, so that
// 2.txt comes before 10.txt and IMG_9 before img_10. The same on every machine.
bool natural_less(const QString &a, const QString &b);

struct Listing
{
    bool ok = true;
    QString error;     // why the directory could not be read
    QStringList names;  // plain files, without their directory, in natural order
    QStringList others; // every other entry: hidden files, folders, links, FIFOs... (unsorted)
};

// Every plain file of a directory: regular files only, no directories, links,
// FIFOs, sockets or devices, and no hidden files. All names are read before
// the caller changes anything.
Listing list_plain_files(const QString &dir);

// The plain files of a folder that an operation may work in: refused (with
// the reason in error) for the root and the system's folders, and for a
// folder that cannot be read.
Listing list_working_files(const QString &dir);

} // namespace torvale
