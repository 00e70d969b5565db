// Properties of the replacement within a file's bytes: replacing a text by
// itself changes nothing; the size changes by the replaced occurrences; in
// text without line ends it agrees with replacing the decoded text.
#include "files/charsetguess.h"
#include "ops/replace.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const torvale::Charset charset = data[0] & 1 ? torvale::Charset::Utf8 : torvale::Charset::Gbk;
    const size_t needleSize = 1 + data[1] % 8;
    const size_t replacementSize = data[2] % 8;
    data += 3;
    size -= 3;
    if (size < needleSize + replacementSize)
        return 0;
    const QByteArrayView needle(reinterpret_cast<const char *>(data), qsizetype(needleSize));
    const QByteArrayView replacement(reinterpret_cast<const char *>(data + needleSize), qsizetype(replacementSize));
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + needleSize + replacementSize),
                               qsizetype(size - needleSize - replacementSize));

    QByteArray out;
    const int count = torvale::replace_in_bytes(bytes, charset, needle, replacement, &out);
    if (count == 0)
        return 0;
    if (out.size() != bytes.size() + count * (replacement.size() - needle.size()))
        std::abort();
    QByteArray same;
    if (torvale::replace_in_bytes(bytes, charset, needle, needle, &same) != count || same != bytes)
        std::abort();

    // Against the decoded text, where both sides are text of the character set.
    if (bytes.contains('\r') || bytes.contains('\n') || needle.contains('\r') || needle.contains('\n'))
        return 0;
    auto reads_as = [&](QByteArrayView b) {
        const torvale::Guess guess = torvale::guess_charset(b);
        return guess.is_text() && (guess.charset == charset || guess.charset == torvale::Charset::Ascii);
    };
    if (!reads_as(bytes) || !reads_as(needle) || (!replacement.isEmpty() && !reads_as(replacement)))
        return 0;
    QString expected = torvale::decode(bytes, charset);
    expected.replace(torvale::decode(needle, charset), torvale::decode(replacement, charset));
    if (torvale::decode(out, charset) != expected)
        std::abort();
    return 0;
}
