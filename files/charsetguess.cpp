#include "charsetguess.h"

#include "gbktable.h"

#include <QStringDecoder>

#include <cstdlib>
#include <cstring>

namespace torvale {

const QString kNotTextReason = QStringLiteral("不是文本文件（含有二进制内容或无效的字符编码）");

namespace {

const QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);

// One reading is clearly likelier when it is at least 2^8 times as likely.
constexpr qint64 kClearBits = 8;
// A text with fewer bytes beyond ASCII than this is short: two readings too
// close to call are left undecided. On a longer one the likelier one wins.
constexpr qint64 kShortBytes = 32;

// How many bytes of 0x80 and above the bytes hold, counted up to `enough`.
qint64 high_bytes(QByteArrayView bytes, qint64 enough)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const auto *end = p + bytes.size();
    qint64 count = 0;
    while (p < end && count < enough) {
        p = skip_ascii_blocks(p, end);
        if (p < end)
            count += *p++ >= 0x80;
    }
    return count;
}

bool is_digit(uchar c)
{
    return c >= 0x30 && c <= 0x39;
}

// The place of a four-byte GB18030 sequence (lead, digit, lead, digit) in
// its range: from 81 30 81 30 the characters of the Basic Multilingual Plane
// that have no pair, 39,420 of them; from 90 30 81 30 the other planes in
// order. Anything else is unassigned.
bool four_bytes_assigned(const uchar *p)
{
    const int rest = (p[1] - 0x30) * 1260 + (p[2] - 0x81) * 10 + (p[3] - 0x30);
    if (p[0] >= 0x90)
        return (p[0] - 0x90) * 12600 + rest < 0x100000;
    return (p[0] - 0x81) * 12600 + rest < 39420;
}

bool is_private_use(char16_t c)
{
    return c >= 0xE000 && c <= 0xF8FF;
}

} // namespace

QString Guess::reason() const
{
    if (kind == Kind::Ambiguous)
        return QStringLiteral("编码不明确（既可读作 %1，也可读作 %2）")
            .arg(charset_name(charset), charset_name(rival));
    return kNotTextReason;
}

void CharsetGuess::feed(QByteArrayView piece)
{
    if (piece.isEmpty())
        return;
    if (m_first) {
        m_first = false;
        if (piece.startsWith("\xFF\xFE"))
            m_utf16 = Charset::Utf16Le;
        else if (piece.startsWith("\xFE\xFF"))
            m_utf16 = Charset::Utf16Be;
        else
            m_utf8Bom = piece.startsWith(kUtf8Bom);
        if (is_utf16(m_utf16))
            piece = piece.sliced(2);
    }
    if (is_utf16(m_utf16))
        return feed_utf16(piece);
    m_nul = m_nul || std::memchr(piece.data(), 0, size_t(piece.size()));
    if (not_text())
        return;
    const qint64 high = high_bytes(piece, kShortBytes);
    if (high == 0)
        return;
    m_high = std::min(m_high + high, kShortBytes);
    m_utf8 = m_utf8 && is_valid_utf8(piece);
    if (m_gbk || m_gb18030)
        walk_gb(piece);
    // Scores tell two valid readings apart; a valid byte-order mark needs none.
    if (m_utf8 && (m_gbk || m_gb18030) && !m_utf8Bom)
        score(piece);
}

bool CharsetGuess::not_text() const
{
    if (is_utf16(m_utf16))
        return !m_utf16Valid;
    return m_nul || (!m_utf8 && (m_utf8Bom || (!m_gbk && !m_gb18030)));
}

void CharsetGuess::feed_utf16(QByteArrayView piece)
{
    if (piece.size() % 2 != 0)
        m_utf16Valid = false; // only the last piece may end within a code unit
    const auto *p = reinterpret_cast<const uchar *>(piece.data());
    const bool little = m_utf16 == Charset::Utf16Le;
    for (qsizetype i = 0; m_utf16Valid && i + 1 < piece.size(); i += 2) {
        const char16_t unit = little ? char16_t(p[i] | p[i + 1] << 8) : char16_t(p[i] << 8 | p[i + 1]);
        if (m_pendingHigh) {
            m_utf16Valid = QChar::isLowSurrogate(unit);
            m_pendingHigh = false;
        } else if (QChar::isHighSurrogate(unit)) {
            m_pendingHigh = true;
        } else {
            m_utf16Valid = unit != 0 && !QChar::isLowSurrogate(unit);
        }
    }
}

// Follows GBK and GB18030 over the bytes at once: while GBK is valid, the two
// see the same characters, and four-byte sequences end GBK.
void CharsetGuess::walk_gb(QByteArrayView piece)
{
    const GbkTable &gbk = GbkTable::instance();
    const auto *p = reinterpret_cast<const uchar *>(piece.data());
    const qsizetype n = piece.size();
    for (qsizetype i = 0; i < n;) {
        const uchar c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The usual case: a pair that both read as the same ordinary
        // character (the table has none for a byte that is no lead).
        const char16_t ch = i + 1 < n ? gbk.char_at(quint16(c << 8 | p[i + 1])) : 0;
        if (ch != 0 && !is_private_use(ch)) {
            i += 2;
            continue;
        }
        if (ch != 0) {
            m_gb18030Reads = m_gb18030Reads || gbk.gb18030_char_at(quint16(c << 8 | p[i + 1])) != 0;
            i += 2;
        } else if (is_gbk_lead(c) && i + 3 < n && is_digit(p[i + 1]) && is_gbk_lead(p[i + 2]) &&
                   is_digit(p[i + 3]) && four_bytes_assigned(p + i)) {
            m_gbk = false;
            i += 4;
        } else {
            // 0x80 and 0xFF are single characters in GBK only; anything else
            // is invalid in both.
            m_gb18030 = false;
            m_gbk = m_gbk && !is_gbk_lead(c) && gbk.char_at(c) != 0;
            ++i;
        }
        if (!m_gbk && !m_gb18030)
            return;
    }
}

void CharsetGuess::score(QByteArrayView piece)
{
    const auto *p = reinterpret_cast<const uchar *>(piece.data());
    const qsizetype n = piece.size();
    // As UTF-8, known to be valid.
    for (qsizetype i = 0; i < n;) {
        const uchar c = p[i];
        char32_t code = c;
        int length = 1;
        if (c >= 0xF0) {
            code = c & 0x07;
            length = 4;
        } else if (c >= 0xE0) {
            code = c & 0x0F;
            length = 3;
        } else if (c >= 0xC0) {
            code = c & 0x1F;
            length = 2;
        }
        for (int k = 1; k < length; ++k)
            code = code << 6 | (p[i + k] & 0x3F);
        m_asUtf8.add(code);
        i += length;
    }
    m_asUtf8.finish();
    // As GBK or GB18030, valid in one of them. A four-byte sequence is never
    // valid UTF-8 (its second byte is a digit), so only pairs and single
    // bytes are met here.
    const GbkTable &gbk = GbkTable::instance();
    for (qsizetype i = 0; i < n;) {
        const uchar c = p[i];
        if (c < 0x80) {
            m_asGb.add(c);
            ++i;
        } else if (const quint16 pair = quint16(c << 8 | (i + 1 < n ? p[i + 1] : 0));
                   gbk.char_at(pair) != 0) {
            const char16_t other = gbk.gb18030_char_at(pair);
            m_asGb.add(other ? other : gbk.char_at(pair));
            i += 2;
        } else {
            m_asGb.add(gbk.char_at(c));
            ++i;
        }
    }
    m_asGb.finish();
}

Guess CharsetGuess::verdict() const
{
    auto text = [](Charset charset) { return Guess{Guess::Kind::Text, charset, charset}; };
    if (is_utf16(m_utf16))
        return m_utf16Valid && !m_pendingHigh ? text(m_utf16) : Guess{};
    if (m_nul)
        return Guess{};
    if (m_utf8Bom) // what its mark says, or nothing
        return m_utf8 ? text(Charset::Utf8Bom) : Guess{};
    if (m_high == 0)
        return text(Charset::Ascii);
    const bool gb18030 = m_gb18030 && (!m_gbk || m_gb18030Reads);
    const bool gb = m_gbk || gb18030;
    const Charset gbCharset = gb18030 ? Charset::Gb18030 : Charset::Gbk;
    if (!m_utf8 || !gb)
        return m_utf8 ? text(Charset::Utf8) : gb ? text(gbCharset) : Guess{};
    // How many bits likelier the UTF-8 reading is.
    const qint64 lead = m_asGb.bits() - m_asUtf8.bits();
    const Charset likelier = lead >= 0 ? Charset::Utf8 : gbCharset;
    if (std::abs(lead) >= kClearBits || m_high >= kShortBytes)
        return text(likelier);
    return {Guess::Kind::Ambiguous, likelier, lead >= 0 ? gbCharset : Charset::Utf8};
}

Guess guess_charset(QByteArrayView bytes)
{
    CharsetGuess guess;
    guess.feed(bytes);
    return guess.verdict();
}

} // namespace torvale
