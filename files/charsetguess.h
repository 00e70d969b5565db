#pragma once

#include "charcost.h"
#include "charset.h"

#include <QByteArrayView>
#include <QString>

namespace torvale {

// The verdict on the bytes of a text.
struct Guess
{
    enum class Kind : quint8 {
        Text,      // read in charset
        Ambiguous, // short, and as plausible in charset as in rival
        NotText,   // binary, or valid in no character set
    };
    Kind kind = Kind::NotText;
    Charset charset = Charset::Ascii; // for Ambiguous, the likelier reading (UTF-8 when even)
    Charset rival = Charset::Ascii;   // for Ambiguous, the other one

    bool is_text() const { return kind == Kind::Text; }
    // Why a file is left alone (for NotText and Ambiguous).
    QString reason() const;
};

// Reads text as a person would. A text with a byte-order mark is what its
// mark says (UTF-8, UTF-16LE or UTF-16BE), if it is valid as that. Without
// one: a NUL byte makes it binary; bytes below 0x80 alone are ASCII; text
// valid in only one of UTF-8 and GBK (or GB18030, where GBK fails or reads a
// user-defined character where GB18030 has a standard one) is that one. When
// both are valid, each reading is scored by how common its characters are
// (ReadingCost) and the clearly likelier one wins; on a short text where the
// two are too close to call, the verdict is Ambiguous. UTF-16 without a mark
// is not told from binary.
//
// Fed in pieces that each end where a line ends (as LineChunks cuts them), or
// at the end of the text: the validity of every reading is followed over
// every piece and the scores add up, so the verdict is the one on the whole.
class CharsetGuess
{
public:
    void feed(QByteArrayView piece);
    Guess verdict() const;
    // Nothing that follows can make the bytes text.
    bool not_text() const;

private:
    void feed_utf16(QByteArrayView piece);
    void walk_gb(QByteArrayView piece);
    void score(QByteArrayView piece);

    bool m_first = true;
    bool m_utf8Bom = false;
    Charset m_utf16 = Charset::Ascii; // Utf16Le or Utf16Be after their mark
    bool m_utf16Valid = true;
    bool m_pendingHigh = false; // UTF-16: a piece ended within a surrogate pair
    bool m_nul = false;
    qint64 m_high = 0; // bytes of 0x80 and above
    bool m_utf8 = true;
    bool m_gbk = true;
    bool m_gb18030 = true;
    bool m_gb18030Reads = false; // a pair that only GB18030 reads as a standard character
    ReadingCost m_asUtf8;
    ReadingCost m_asGb;
};

// True when the bytes begin with a UTF-16 byte-order mark.
inline bool begins_utf16(QByteArrayView bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// Why a file that is not text is left alone.
extern const QString kNotTextReason;

// The verdict on a whole text.
Guess guess_charset(QByteArrayView bytes);

} // namespace torvale
