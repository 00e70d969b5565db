#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace torvale {

struct Stamp;

// Names of the program's own files in a user's folder. All are hidden, and
// each kind has a pattern of its own that a user's file is unlikely to match.
enum class OwnFile {
    Write,  // a file being written, renamed over its target when whole
    Parking // a file waiting for its new name during a rename
};
QByteArray own_file_name(OwnFile kind);
bool is_own_file_name(QByteArrayView name, OwnFile kind);

// The name a new version takes just before it is swapped with the file it
// replaces. It records both files, so that what a run killed between the
// swap and its check left behind can be told apart by the next run: the new
// version never put in place, the planned file swapped out, or a file
// changed meanwhile, which may be the user's only copy of a change. A random
// part makes the name impossible to take beforehand.
struct SwapName
{
    struct Identity
    {
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool matches(const Stamp &s) const;
    };
    Identity ours;    // the new version
    Identity planned; // the file it replaces
    quint64 nonce = 0;

    static SwapName for_files(const Stamp &ours, const Stamp &planned);
    QByteArray bytes() const;
    static std::optional<SwapName> parse(QByteArrayView name);
};

} // namespace torvale
