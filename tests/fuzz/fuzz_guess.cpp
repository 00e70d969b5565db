// Properties of the guess: it never picks a character set in which the bytes
// are invalid (asked of Qt's own codecs); the text converts back to exactly
// its bytes; fed in pieces of lines, as files are read, it says what it says
// of the whole; and in the text it picks, replacing a piece of it in the
// bytes does what replacing it in the text does.
#include "files/charsetguess.h"
#include "ops/replace.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdlib>

namespace {

using namespace torvale;

// True when Qt's codec reads the bytes without error and writes them back.
bool valid_in(Charset charset, QByteArrayView bytes)
{
    switch (charset) {
    case Charset::Ascii:
        return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
    case Charset::Utf16Le:
    case Charset::Utf16Be: {
        const QString text = decode(bytes, charset);
        return bytes.size() % 2 == 0 && text.isValidUtf16() && !text.contains(QChar(0));
    }
    default:
        break;
    }
    const bool utf8 = charset == Charset::Utf8 || charset == Charset::Utf8Bom;
    // A U+FEFF that follows the mark is text: the decoder must keep it.
    const auto flags = QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder decoder = utf8 ? QStringDecoder(QStringDecoder::Utf8, flags)
                                  : QStringDecoder(charset == Charset::Gbk ? "GBK" : "GB18030", flags);
    const QString text = decoder.decode(bytes);
    QStringEncoder encoder = utf8 ? QStringEncoder(QStringEncoder::Utf8)
                                  : QStringEncoder(charset == Charset::Gbk ? "GBK" : "GB18030");
    return !decoder.hasError() && QByteArray(encoder.encode(text)) == bytes && !bytes.contains('\0');
}

// Where LineChunks may cut: after a line end (a CR not before an LF), in
// code units after a UTF-16 byte-order mark.
std::vector<qsizetype> line_ends(QByteArrayView bytes)
{
    std::vector<qsizetype> ends;
    const bool utf16 = begins_utf16(bytes), little = bytes.startsWith("\xFF\xFE");
    const qsizetype unit = utf16 ? 2 : 1;
    auto at = [&](qsizetype i) {
        return utf16 ? (little ? uchar(bytes[i]) | uchar(bytes[i + 1]) << 8
                               : uchar(bytes[i]) << 8 | uchar(bytes[i + 1]))
                     : uchar(bytes[i]);
    };
    for (qsizetype i = 0; i + unit <= bytes.size(); i += unit) {
        const int c = at(i);
        if (c == '\n' || (c == '\r' && !(i + 2 * unit <= bytes.size() && at(i + unit) == '\n')))
            ends.push_back(i + unit);
    }
    return ends;
}

bool same(const Guess &a, const Guess &b)
{
    return a.kind == b.kind &&
           (a.kind == Guess::Kind::NotText || (a.charset == b.charset && a.rival == b.rival));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t choice = data[0]; // which line ends cut, and which piece of text to replace
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const Guess guess = guess_charset(bytes);

    CharsetGuess pieces;
    qsizetype from = 0;
    int k = 0;
    for (const qsizetype end : line_ends(bytes)) {
        if ((choice >> (k++ % 8)) & 1) {
            pieces.feed(bytes.sliced(from, end - from));
            from = end;
        }
    }
    pieces.feed(bytes.sliced(from));
    if (!same(pieces.verdict(), guess))
        std::abort();
    if (guess.kind == Guess::Kind::NotText)
        return 0;

    for (Charset charset : {guess.charset, guess.rival}) {
        const QByteArrayView mark = byte_order_mark(charset);
        const QByteArrayView body = bytes.startsWith(mark) ? bytes.sliced(mark.size()) : bytes;
        if (!valid_in(charset, body))
            std::abort();
        const QString text = decode(bytes, charset);
        const std::optional<QByteArray> back = encode(text, charset);
        if (!back || *back != body)
            std::abort();
        // A piece of the text, replaced in the bytes as in the text.
        if (text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.isEmpty())
            continue;
        const qsizetype start = choice % text.size();
        const QString needle = text.mid(start, 1 + (choice >> 4) % 4);
        if (needle.front().isLowSurrogate() || needle.back().isHighSurrogate())
            continue;
        const QString replacement = QStringLiteral("X");
        QByteArray out;
        const int count =
            replace_in_bytes(body, charset, *encode(needle, charset), *encode(replacement, charset), &out);
        QString expected = text;
        expected.replace(needle, replacement);
        if (count == 0 || decode(out, charset, false) != expected)
            std::abort();
    }
    return 0;
}
