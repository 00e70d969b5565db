#include "linefile.h"

#include "textbuffer.h"

namespace torvale {

void split_lines(QStringView text, const LineStep &step)
{
    QString WorkText;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
            ++end;
        WorkText = text.mid(start, end - start).toString();
        step(WorkText);
        if (end + 1 < size && text[end] == QLatin1Char('\r') && text[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
}

const QString kNotTextReason = QStringLiteral("不是文本文件（含有二进制内容或无效的字符编码）");

bool LineChunks::next(QByteArray *piece, QString *error)
{
    constexpr qsizetype kPiece = 1 << 20;
    qsizetype searched = 0;
    for (;;) {
        // Cut after the last line end, but never between a CR and an LF
        // that may follow it.
        qsizetype cut = m_carry.size();
        if (!m_end) {
            cut = m_carry.size() - 1;
            if (cut >= 0 && m_carry[cut] == '\r')
                --cut;
            while (cut >= searched && m_carry[cut] != '\n' && m_carry[cut] != '\r')
                --cut;
            cut = cut < searched ? -1 : cut + 1;
        }
        if (cut > 0) {
            *piece = m_carry.left(cut);
            m_carry.remove(0, cut);
            return true;
        }
        if (m_end)
            return false;
        searched = std::max<qsizetype>(0, m_carry.size() - 1);
        const qsizetype n = m_reader.read_some(m_carry, kPiece, error);
        if (n < 0) {
            m_failed = true;
            return false;
        }
        m_end = n == 0;
    }
}

bool scan_text_file(FileReader &reader, Charset *charset, QString *error, CharsetScan *scan)
{
    CharsetScan own;
    CharsetScan &s = scan ? *scan : own;
    // Most files that are not text show a NUL byte early: known from their
    // start, they are not read further (nor held whole for want of a line end).
    QByteArray head;
    if (reader.read_some(head, 64 * 1024, error) < 0)
        return false;
    if (is_utf16_text(head) || head.contains('\0')) {
        *error = is_utf16_text(head) ? kUtf16Reason : kNotTextReason;
        return false;
    }
    if (!reader.rewind(error))
        return false;
    LineChunks chunks(reader);
    QByteArray piece;
    while (!s.hopeless() && chunks.next(&piece, error))
        s.feed(piece);
    if (chunks.failed() || !reader.rewind(error))
        return false;
    const std::optional<Charset> found = s.charset();
    if (!found) {
        *error = s.utf16() ? kUtf16Reason : kNotTextReason;
        return false;
    }
    *charset = *found;
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
        split_lines(decode(piece, first ? charset : (charset == Charset::Utf8Bom ? Charset::Utf8 : charset)),
                    step);
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
