#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstring>
#include <optional>

namespace torvale {

// How the bytes of a text file are read (see CharsetGuess for how one is
// chosen).
enum class Charset : quint8 {
    Ascii,   // bytes below 0x80 only: the same text in each of the others
    Utf8,    //
    Utf8Bom, // UTF-8 after its byte-order mark
    Gbk,     // code page 936
    Gb18030, // GBK's pairs and a four-byte sequence for every other character
    Utf16Le, // UTF-16 after its byte-order mark FF FE (Notepad's "Unicode")
    Utf16Be, // UTF-16 after FE FF
};

// The name of a character set, as messages show it ("GBK").
QString charset_name(Charset charset);
// The byte-order mark that begins a file in the character set (or nothing).
QByteArrayView byte_order_mark(Charset charset);
inline bool is_utf16(Charset charset)
{
    return charset == Charset::Utf16Le || charset == Charset::Utf16Be;
}

// True when the GBK character set is there (Qt's ICU-backed codec) and
// converts known characters both ways. Without it, every GBK file would
// silently count as not text: the programs refuse to run instead, and
// *why says so.
bool character_sets_available(QString *why);

// A byte that begins a GBK (or GB18030) pair.
inline bool is_gbk_lead(uchar c)
{
    return c >= 0x81 && c <= 0xFE;
}

// Past the whole blocks of eight ASCII bytes that begin at p (p itself when
// the first block holds a byte of 0x80 or above, or is cut short by end).
inline const uchar *skip_ascii_blocks(const uchar *p, const uchar *end)
{
    for (quint64 block; end - p >= 8; p += 8) {
        std::memcpy(&block, p, 8);
        if ((block & 0x8080808080808080ULL) != 0)
            break;
    }
    return p;
}

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(QByteArrayView bytes);

// The text of bytes known to be in the character set. With start, the bytes
// begin the file, and its byte-order mark is no part of the text; anywhere
// else U+FEFF is a character like any other.
QString decode(QByteArrayView bytes, Charset charset, bool start = true);

// The bytes of a text in the character set, without a byte-order mark; nothing
// when the character set cannot hold every character (ASCII holds ASCII only).
std::optional<QByteArray> encode(QStringView text, Charset charset);

// The text in code page 936; a character that the code page cannot hold
// becomes an HTML numeric character reference (&#NNNNN;).
QByteArray encode_gbk_for_html(QStringView text);

} // namespace torvale
