#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <optional>

// The terminal's side of torvale-cli: arguments and output in the character
// set of the locale (GBK, GB18030, UTF-8 ...), whatever Qt would assume.

// The text of an argument in the locale's character set; nothing when its
// bytes are not valid in it.
std::optional<QString> decode_argument(const QByteArray &bytes);

// Prints a line in the locale's character set. Control characters (a line
// feed in a file name, say) are shown escaped, so that a line is one line.
void print_line(FILE *stream, const QString &text);
