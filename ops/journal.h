#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace torvale {

// A rename whose new name is still held by a file of the batch that has not
// moved yet waits under a hidden temporary name. The list of such files is
// written into the folder first, so that a run that is killed part-way can
// be mended by the next one: each waiting file goes back to its old name,
// or on to its new one.
//
// The journal lives in the user's folder, so anyone who hands over the folder
// can write it: it is read as untrusted input.
extern const QByteArray kJournalName;

struct Parking
{
    QByteArray temporary; // the hidden name the file waits under
    QByteArray from;      // its name before the rename
    QByteArray to;        // its new name
};

QByteArray journal_text(const QList<Parking> &parked);

// Reads a journal. Every entry must name a temporary file of the program's
// own pattern and two plain names of this folder (no separator, not "." or
// "..", not hidden), and no name may appear twice; otherwise returns false
// with the reason.
bool parse_journal(QByteArrayView text, QList<Parking> *parked, QString *why);

} // namespace torvale
