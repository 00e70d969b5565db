#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>

namespace torvale {

// The terminal's side of the programs: arguments and output in the
// character set of the locale (GBK, GB18030, UTF-8 ...), whatever Qt would
// assume (Qt takes UTF-8 on this platform).

// The name of the locale's character set ("UTF-8", "GB18030" ...).
QByteArray locale_charset();

// The text of an argument in the locale's character set; nothing when its
// bytes are not valid in it.
std::optional<QString> decode_argument(const QByteArray &bytes);

// Prints a line in the locale's character set. Control characters (a line
// feed in a file name, say) and marks that turn the direction of text are
// shown escaped, so that a line is one line and reads as it is.
void print_line(FILE *stream, const QString &text);

// Text in the locale's character set, as it goes to the terminal.
QByteArray locale_bytes(const QString &text);

// Prints a text of several lines of the program's own, a line at a time.
void print_text(FILE *stream, const QString &text);

// A path of the file system as people read it: each folder's name decoded
// on its own (one in GBK marked as such), control characters escaped.
QString shown_path(const QByteArray &path);

} // namespace torvale
