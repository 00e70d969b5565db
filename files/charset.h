#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace torvale {

// How the bytes of a text file are to be read. Files are code page 936 (GBK)
// unless they are recognisably UTF-8.
enum class Charset { Gbk, Utf8, Utf8Bom };

// True when the GBK character set is there (Qt's ICU-backed codec) and
// converts known characters both ways. Without it, every GBK file would
// silently count as not text: the programs refuse to run instead, and
// *why says so.
bool character_sets_available(QString *why);

// True when the bytes begin with a UTF-16 byte-order mark, as text saved as
// "Unicode" by Windows Notepad does.
bool is_utf16_text(QByteArrayView bytes);
// Why such a file is left alone.
extern const QString kUtf16Reason;

// The text of UTF-16 bytes with a byte-order mark.
QString decode_utf16(QByteArrayView bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(QByteArrayView bytes);

// The character set of a file's bytes, or nothing when the bytes are not text:
// NUL bytes, or neither valid UTF-8 nor GBK that converts back to the same bytes.
// UTF-8 wins when the bytes are valid UTF-8 and begin with its byte-order mark
// or hold a byte of 0x80 or above; everything else is GBK.
std::optional<Charset> detect_charset(QByteArrayView bytes);

// The character set of a file read in pieces, each ending where a line ends
// (so that no character is cut): the same verdict as detect_charset on the
// whole, without holding the whole.
class CharsetScan
{
public:
    void feed(QByteArrayView piece);
    std::optional<Charset> charset() const;
    bool utf16() const { return m_utf16; }
    // Neither UTF-8 nor GBK any more, or binary: the rest changes nothing.
    bool hopeless() const { return m_nul || m_utf16 || (!m_utf8 && !m_gbk); }
    // Whether the bytes so far are also GBK text.
    bool maybe_gbk() const { return m_gbk; }
    // Characters beyond ASCII, counted (as UTF-8) up to a few.
    int non_ascii() const { return m_nonAscii; }

private:
    bool m_first = true;
    bool m_bom = false;
    bool m_utf16 = false;
    bool m_nul = false;
    bool m_high = false;
    bool m_utf8 = true;
    bool m_gbk = true;
    int m_nonAscii = 0;
};

// The text of bytes known to be in the given character set (a byte-order mark
// is not part of the text).
QString decode(QByteArrayView bytes, Charset charset);

// The bytes of a text in the given character set, without a byte-order mark.
// Returns nothing when the character set cannot hold every character.
std::optional<QByteArray> encode(QStringView text, Charset charset);

// The text in code page 936; a character that the code page cannot hold
// becomes an HTML numeric character reference (&#NNNNN;).
QByteArray encode_gbk_for_html(QStringView text);

} // namespace torvale
