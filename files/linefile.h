#pragma once

#include "charset.h"
#include "folder.h"

#include <QString>

#include <functional>

namespace torvale {

class TextBuffer;

using LineStep = std::function<void(const QString &WorkText)>;

// Runs the step for each line of a text: a CR LF, a lone CR and a lone LF
// each end a line; a last line without a line end ends at the end. An empty
// text has no lines.
void split_lines(QStringView text, const LineStep &step);

// Reads a file of the folder and tells its character set; false with the
// reason when it cannot be read or is not text.
bool read_text_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
                    Charset *charset, QString *error);

// Reads a text file and runs the step for each of its lines. The file must be
// text (see detect_charset); otherwise, or when it cannot be read, returns
// false with the reason in *error and runs no step.
bool for_each_line(const Folder &folder, const QByteArray &name, const Stamp *expected, const LineStep &step,
                   QString *error);

// Writes the buffer followed by CR LF to an entry of the folder in code page
// 936, atomically (see FileWriter for replaces). Characters that the code
// page lacks are written as HTML character references.
bool write_buffer(const Folder &folder, const QByteArray &name, const Stamp *replaces,
                  const TextBuffer &buffer, QString *error);

} // namespace torvale
