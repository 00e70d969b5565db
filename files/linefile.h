#pragma once

#include "charsetguess.h"
#include "filewriter.h"

#include <QString>

#include <functional>

namespace torvale {

class TextBuffer;

using LineStep = std::function<void(const QString &line)>;

// Runs the step for each line of a text: a CR LF, a lone CR and a lone LF
// each end a line; a last line without a line end ends at the end. An empty
// text has no lines.
void split_lines(QStringView text, const LineStep &step);

// Reads an open file from its start in pieces of whole lines (the last one
// may end without a line end at the end of the file), so that no line and no
// character is cut, and a CR LF stays together. A file that begins with a
// UTF-16 byte-order mark is cut after the code units CR and LF, so that no
// code unit and no surrogate pair is cut either. A line is held whole, a
// file is not.
class LineChunks
{
public:
    explicit LineChunks(FileReader &reader) : m_reader(reader) {}
    // The next piece; false at the end (or on an error, with *error set).
    bool next(QByteArray *piece, QString *error);
    bool failed() const { return m_failed; }

private:
    enum class Units : quint8 { Unknown, Bytes, Utf16Le, Utf16Be };
    qsizetype cut(qsizetype searched) const;

    FileReader &m_reader;
    QByteArray m_carry;
    Units m_units = Units::Unknown;
    bool m_end = false;
    bool m_failed = false;
};

// The character set of an open file, read through to its end (and rewound):
// false with the reason when it cannot be read, is not text or is ambiguous.
bool scan_text_file(FileReader &reader, Charset *charset, QString *error);

// Reads a text file and runs the step for each of its lines. The file must be
// text (see CharsetGuess); otherwise, or when it cannot be read, returns
// false with the reason in *error and runs no step. A line is held whole, a
// file is not.
bool for_each_line(const Folder &folder, const QByteArray &name, const Stamp *expected, const LineStep &step,
                   QString *error);

// Writes a text buffer to an entry of the folder in code page 936, a part at
// a time as the buffer fills, so that a large page is never held whole; the
// file takes its place, atomically, at publish (see FileWriter for replaces).
// Characters that the code page lacks are written as HTML character
// references.
class BufferWriter
{
public:
    bool begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error,
               const Entry *like = nullptr);
    // Writes what the buffer holds and empties it.
    bool drain(TextBuffer &buffer, QString *error);
    // Writes the rest followed by CR LF and closes the file, durable or to
    // be made so with its batch; publish then puts it in place.
    bool close(TextBuffer &buffer, QString *error, bool durable);
    bool publish(QString *error) { return m_writer.publish(error); }
    bool sync(QString *error) const { return m_writer.sync(error); }
    const QString &leftover() const { return m_writer.leftover(); }
    const Stamp &new_stamp() const { return m_writer.new_stamp(); }

private:
    FileWriter m_writer;
};

} // namespace torvale
