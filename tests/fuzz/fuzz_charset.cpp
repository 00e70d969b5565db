// Properties: text found in a file converts back to exactly its bytes; bytes
// judged not text are ones the codec cannot carry there and back.
#include "files/charset.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<torvale::Charset> charset = torvale::detect_charset(bytes);
    if (charset) {
        const QString text = torvale::decode(bytes, *charset);
        const std::optional<QByteArray> back = torvale::encode(text, *charset);
        QByteArrayView expected = bytes;
        if (*charset == torvale::Charset::Utf8Bom)
            expected = expected.sliced(3);
        if (!back || *back != expected)
            std::abort();
        // A page of it holds only code page 936 bytes.
        const QByteArray page = torvale::encode_gbk_for_html(text);
        if (!torvale::detect_charset(page))
            std::abort();
    } else if (!std::memchr(data, 0, size) && !torvale::is_valid_utf8(bytes)) {
        QStringDecoder decoder("GBK", QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(bytes);
        QStringEncoder encoder("GBK", QStringEncoder::Flag::Stateless);
        const QByteArray back = encoder.encode(text);
        if (!decoder.hasError() && back == bytes && !encoder.hasError()) {
            // The codec would carry these bytes there and back, yet they were
            // judged not text: allowed only for best-fit characters.
            for (QChar c : text) {
                if (!torvale::encode(QStringView(&c, 1), torvale::Charset::Gbk))
                    return 0;
            }
            std::abort();
        }
    }
    return 0;
}
