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

bool read_text_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
                    Charset *charset, QString *error)
{
    const QString notText = QStringLiteral("不是文本文件（含有二进制内容或无效的字符编码）");
    FileReader reader;
    bytes->clear();
    if (!reader.open(folder, name, expected, error))
        return false;
    // Most files that are not text show a NUL byte early: stop there rather
    // than read a large binary file whole.
    constexpr qsizetype kHead = 64 * 1024;
    if (reader.read_some(*bytes, kHead, error) < 0)
        return false;
    if (is_utf16_text(*bytes)) {
        *error = kUtf16Reason;
        return false;
    }
    if (bytes->contains('\0')) {
        *error = notText;
        return false;
    }
    if (!reader.read_rest(*bytes, error))
        return false;
    const std::optional<Charset> detected = detect_charset(*bytes);
    if (!detected) {
        *error = notText;
        return false;
    }
    *charset = *detected;
    return true;
}

bool for_each_line(const Folder &folder, const QByteArray &name, const Stamp *expected, const LineStep &step,
                   QString *error)
{
    QByteArray bytes;
    Charset charset;
    if (!read_text_file(folder, name, expected, &bytes, &charset, error))
        return false;
    const QString text = decode(bytes, charset);
    bytes.clear();
    split_lines(text, step);
    return true;
}

bool write_buffer(const Folder &folder, const QByteArray &name, const Stamp *replaces,
                  const TextBuffer &buffer, QString *error)
{
    QByteArray bytes = encode_gbk_for_html(buffer.buffer_text());
    bytes += "\r\n";
    return save_file(folder, name, replaces, bytes, error);
}

} // namespace torvale
