// Properties: text found in a file converts back to exactly its bytes, in
// each reading an ambiguous text has; a page of it is text; bytes judged not
// text are ones the codecs cannot carry there and back (or, behind a UTF-8
// mark, are not UTF-8).
#include "files/charsetguess.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdlib>
#include <cstring>

namespace {

bool codec_carries(const char *name, QByteArrayView bytes)
{
    QStringDecoder decoder(name, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    QStringEncoder encoder(name, QStringEncoder::Flag::Stateless);
    const QByteArray back = encoder.encode(text);
    return !decoder.hasError() && !encoder.hasError() && back == bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace torvale;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Guess guess = guess_charset(bytes);
    if (guess.kind != Guess::Kind::NotText) {
        for (Charset charset : {guess.charset, guess.rival}) {
            const QByteArrayView mark = byte_order_mark(charset);
            const QByteArrayView expected = bytes.startsWith(mark) ? bytes.sliced(mark.size()) : bytes;
            const std::optional<QByteArray> back = encode(decode(bytes, charset), charset);
            if (!back || *back != expected)
                std::abort();
        }
        // A page of it holds only code page 936 bytes.
        if (guess_charset(encode_gbk_for_html(decode(bytes, guess.charset))).kind == Guess::Kind::NotText)
            std::abort();
    } else if (!std::memchr(data, 0, size) && !begins_utf16(bytes)) {
        if (bytes.startsWith("\xEF\xBB\xBF")) // UTF-8 by its mark, or nothing
            return is_valid_utf8(bytes) ? (std::abort(), 0) : 0;
        if (codec_carries("GB18030", bytes) || (is_valid_utf8(bytes) && size > 0))
            std::abort();
        if (codec_carries("GBK", bytes)) {
            // The codec would carry these bytes there and back, yet they were
            // judged not text: allowed only for best-fit characters.
            QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
            const QString text = decoder.decode(bytes);
            for (QChar c : text) {
                if (!encode(QStringView(&c, 1), Charset::Gbk))
                    return 0;
            }
            std::abort();
        }
    }
    return 0;
}
