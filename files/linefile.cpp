#include "linefile.h"

#include "textbuffer.h"

#include <algorithm>
#include <cstring>

namespace torvale {

void split_lines(QStringView text, const LineStep &step)
{
    QString line;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
            ++end;
        line = text.mid(start, end - start).toString();
        step(line);
        if (end + 1 < size && text[end] == QLatin1Char('\r') && text[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
}

bool LineChunks::next(QByteArray *piece, QString *error)
{
    constexpr qsizetype kPiece = 1 << 20;
    qsizetype searched = 0; // no line end to cut at before this
    for (;;) {
        if (m_units == Units::Unknown && (m_carry.size() >= 2 || m_end))
            m_units = m_carry.startsWith("\xFF\xFE")   ? Units::Utf16Le
                      : m_carry.startsWith("\xFE\xFF") ? Units::Utf16Be
                                                       : Units::Bytes;
        const qsizetype at = m_units == Units::Unknown ? -1 : cut(searched);
        if (at > 0) {
            *piece = m_carry.left(at);
            m_carry.remove(0, at);
            return true;
        }
        if (m_end)
            return false;
        // The last unit is looked at again: a CR there may be followed by an LF.
        searched = m_units == Units::Bytes ? std::max<qsizetype>(0, m_carry.size() - 1)
                                           : std::max<qsizetype>(0, m_carry.size() / 2 - 1) * 2;
        const qsizetype n = m_reader.read_some(m_carry, kPiece, error);
        if (n < 0) {
            m_failed = true;
            return false;
        }
        m_end = n == 0;
    }
}

// Where to cut the bytes held: after the last line end, but never between a
// CR and an LF that may follow it; -1 when there is no such place yet.
qsizetype LineChunks::cut(qsizetype searched) const
{
    if (m_end)
        return m_carry.size();
    if (m_units == Units::Bytes) {
        // The last CR or LF (never between a CR at the very end and the LF
        // that may follow it), found by the library's fast search.
        qsizetype end = m_carry.size();
        if (end > 0 && m_carry.at(end - 1) == '\r')
            --end;
        if (end <= searched)
            return -1;
        const char *from = m_carry.constData() + searched;
        const auto *lf = static_cast<const char *>(::memrchr(from, '\n', size_t(end - searched)));
        const auto *cr = static_cast<const char *>(::memrchr(from, '\r', size_t(end - searched)));
        const char *last = !lf ? cr : !cr ? lf : std::max(lf, cr);
        return last ? last - m_carry.constData() + 1 : -1;
    }
    const auto *p = reinterpret_cast<const uchar *>(m_carry.constData());
    const bool little = m_units == Units::Utf16Le;
    auto unit = [&](qsizetype k) {
        return little ? char16_t(p[2 * k] | p[2 * k + 1] << 8) : char16_t(p[2 * k] << 8 | p[2 * k + 1]);
    };
    qsizetype k = m_carry.size() / 2 - 1;
    if (k >= 0 && unit(k) == u'\r')
        --k;
    while (k >= searched / 2 && unit(k) != u'\n' && unit(k) != u'\r')
        --k;
    return k < searched / 2 ? -1 : (k + 1) * 2;
}

bool scan_text_file(FileReader &reader, Charset *charset, QString *error)
{
    // Most files that are not text show a NUL byte early: known from their
    // start, they are not read further (nor held whole for want of a line
    // end). In UTF-16 half the bytes of ASCII are NUL.
    QByteArray head;
    if (reader.read_some(head, 64 * 1024, error) < 0)
        return false;
    if (!begins_utf16(head) && head.contains('\0')) {
        *error = kNotTextReason;
        return false;
    }
    if (!reader.rewind(error))
        return false;
    CharsetGuess guess;
    LineChunks chunks(reader);
    QByteArray piece;
    while (!guess.not_text() && chunks.next(&piece, error))
        guess.feed(piece);
    if (chunks.failed() || !reader.rewind(error))
        return false;
    const Guess verdict = guess.verdict();
    if (!verdict.is_text()) {
        *error = verdict.reason();
        return false;
    }
    *charset = verdict.charset;
    return true;
}

bool for_each_line(const Folder &folder, const QByteArray &name, const Stamp *expected, const LineStep &step,
                   QString *error)
{
    FileReader reader;
    Charset charset;
    if (!reader.open(folder, name, expected, error) || !scan_text_file(reader, &charset, error))
        return false;
    LineChunks chunks(reader);
    QByteArray piece;
    for (bool first = true; chunks.next(&piece, error); first = false)
        split_lines(decode(piece, charset, first), step);
    return !chunks.failed();
}

bool BufferWriter::begin(const Folder &folder, const QByteArray &name, const Stamp *replaces, QString *error,
                         const Entry *like)
{
    return m_writer.begin(folder, name, replaces, error, like);
}

bool BufferWriter::drain(TextBuffer &buffer, QString *error)
{
    const bool ok = m_writer.write(encode_gbk_for_html(buffer.buffer_text()), error);
    buffer.buffer_clear();
    return ok;
}

bool BufferWriter::close(TextBuffer &buffer, QString *error, bool durable)
{
    return drain(buffer, error) && m_writer.write("\r\n", error) && m_writer.finish(error, durable);
}

} // namespace torvale
