#include "charcost.h"

#include "gbktable.h"

#include <QChar>
#include <QHash>
#include <QString>

#include <algorithm>
#include <vector>

namespace torvale {

namespace {

// What a character is, for a reader. Every character of the Basic
// Multilingual Plane gets one kind, derived once from the GBK code page and
// the character's Unicode properties; no word list is involved.
//
// GB2312, the core of GBK, orders Chinese characters by how common they are:
// its rows 16-55 hold the 3,755 characters of level 1, which make up about
// 99.7 % of what people write, rows 56-87 the 3,008 of level 2, and GBK's
// additions the rare and traditional ones. Rows 1 and 3 hold the punctuation
// of Chinese text (、。“”《》 and the full-width ，！？：；（）) beside
// symbols; rows 2 and 9 numbers in circles and box drawing. Costs are about
// -log2 of how often a character of the kind turns up in text: a level-1
// character about 1 in 4,000 (12 bits), level 2 about 1 in 500,000 (19).
//
// Rows 4-8 carry the alphabets a Chinese text may quote: kana, Greek,
// Cyrillic, pinyin and bopomofo. The letters of those scripts within the
// span that GB2312 covers (Cyrillic 0400-045F, Greek 0390-03CF), and the
// accented forms of them and of ASCII letters (é, Ά), are common letters;
// the others (ϵ, ң) are rare. A letter is likely inside a word of its own
// script (a common letter of that script beside it, and no capital right
// after a small letter; an accented Latin letter needs an ASCII one) or as a
// word of one letter among such words ("è"), and unlikely alone: a lone
// Cyrillic letter between Chinese characters is what GBK text looks like
// read as UTF-8, and a Chinese character stuck to a Latin word, or alone
// among Latin words, is what "café" looks like read as GBK. A combining mark
// belongs on a letter (of its own script, if it has one), a modifier beside
// a Latin letter. Private-use and user-defined characters (which ICU's GBK
// reads but nobody writes), C1 controls, noncharacters and unassigned code
// points cost the most. CharsetGuess compares the sums of two readings.
enum Kind : quint8 {
    Blank,       // ASCII other than letters, or nothing (the start or end of the text)
    Break,       // a line end
    AsciiLetter, // the same in every reading: only context
    Han1,
    Han2,
    HanRare,     // in GBK but not GB2312
    HanOutside,  // not in GBK at all
    Punctuation, // of GB2312 rows 1 and 3
    CjkSymbol,   // the rest of rows 1 to 3, and 9
    Symbol,      // any other symbol, punctuation, number, space or format character
    Letter,      // beyond ASCII
    Mark,
    Modifier,
    Unused,
};

// What is known of a character beyond its kind.
enum Flag : quint8 {
    Rare = 1,        // a letter of an alphabet GB2312 carries, but not one of its letters
    Upper = 2,       // a capital letter
    Lower = 4,       // a small letter
    Punctuating = 8, // punctuation beyond GB2312 or a sign of Latin-1, likely among Latin words
};

// The kind of a character, its script (of letters and marks) and flags.
using Traits = ReadingCost::Traits;

struct Cost
{
    quint8 usual; // in its place
    quint8 alone; // where it does not belong (see ReadingCost::cost_of)
};

constexpr Cost kCosts[] = {
    {0, 0},   // Blank
    {0, 0},   // Break
    {0, 0},   // AsciiLetter
    {12, 12}, // Han1
    {19, 19}, // Han2
    {20, 20}, // HanRare
    {24, 24}, // HanOutside
    {9, 9},   // Punctuation
    {16, 16}, // CjkSymbol
    {14, 14}, // Symbol
    {11, 24}, // Letter: in a word / alone (a Latin one in a word: kLatinInWord)
    {16, 28}, // Mark: on a letter / on anything else
    {14, 24}, // Modifier: beside a Latin letter / elsewhere
    {40, 40}, // Unused
};
// An accented Latin letter in a word with ASCII ones, and one that is a
// word of its own ("à"): the Latin script needs no foreign word to be there.
constexpr int kLatinInWord = 8;
constexpr int kLatinOneLetterWord = 12;
// A rare letter costs this much more.
constexpr int kRareLetter = 8;
// Punctuation beyond GB2312 near a Latin letter.
constexpr int kLatinPunctuation = 10;
// A character of another script inside a Latin word, or stuck to one on
// one side.
constexpr int kInLatinWord = 8;
constexpr int kBesideLatin = 4;

bool is_letter(const Traits &t)
{
    return t.kind == AsciiLetter || t.kind == Letter;
}

bool is_latin(const Traits &t)
{
    return is_letter(t) && t.script == QChar::Script_Latin;
}

bool is_han(const Traits &t)
{
    return t.kind >= Han1 && t.kind <= HanOutside;
}

bool is_chinese(const Traits &t)
{
    return t.kind >= Han1 && t.kind <= CjkSymbol;
}

// What the nearest-letter context looks for: a letter or a Chinese character.
bool is_wordlike(const Traits &t)
{
    return is_letter(t) || is_han(t);
}

bool is_unused(char32_t c)
{
    return (c >= 0x80 && c <= 0x9F) || (c >= 0xD800 && c <= 0xF8FF) || (c >= 0xFDD0 && c <= 0xFDEF) ||
           (c & 0xFFFE) == 0xFFFE || c >= 0xF0000 || QChar::category(c) == QChar::Other_NotAssigned;
}

// The GB2312 row of a character (1-87), 0 when it has none.
int gb2312_row(char32_t c)
{
    char bytes[2];
    if (c > 0xFFFF || GbkTable::instance().encode_char(char16_t(c), bytes) != 2)
        return 0;
    const int row = uchar(bytes[0]) - 0xA0, column = uchar(bytes[1]) - 0xA0;
    return row >= 1 && row <= 87 && column >= 1 && column <= 94 ? row : 0;
}

bool is_punctuation(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return (category >= QChar::Punctuation_Connector && category <= QChar::Punctuation_Other) ||
           category == QChar::Separator_Space;
}

// The kind of a character, without what GB2312 says of its script (see
// bmp_traits).
Traits classify(char32_t c)
{
    if (c < 0x80) {
        if (c == '\r' || c == '\n')
            return {Break, 0, 0};
        if (QChar::isLetter(c))
            return {AsciiLetter, QChar::Script_Latin, quint8(QChar::isUpper(c) ? Upper : Lower)};
        return {Blank, 0, 0};
    }
    if (is_unused(c))
        return {Unused, 0, 0};
    const int row = gb2312_row(c);
    // The signs of Latin-1 (° § « ¿) are at home among Latin words.
    const quint8 western = c <= 0xFF ? Punctuating : 0;
    if (row >= 16)
        return {quint8(row <= 55 ? Han1 : Han2), 0, 0};
    if (row >= 1 && row <= 3)
        return {quint8(is_punctuation(c) && row != 2 ? Punctuation : CjkSymbol), 0, western};
    if (row == 9)
        return {CjkSymbol, 0, 0};
    const QChar::Script script = QChar::script(c);
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return {Mark, quint8(script), 0};
    case QChar::Letter_Modifier:
    case QChar::Symbol_Modifier:
        return {Modifier, 0, 0};
    default:
        break;
    }
    if (script == QChar::Script_Han)
        return {quint8(c <= 0xFFFF && GbkTable::instance().holds(char16_t(c)) ? HanRare : HanOutside), 0, 0};
    if (!QChar::isLetter(c))
        return {Symbol, 0, quint8(is_punctuation(c) ? quint8(Punctuating) : western)};
    // Japanese mixes its two kana within words; a letter of no script (µ)
    // goes with Latin ones.
    const QChar::Script as = script == QChar::Script_Katakana ? QChar::Script_Hiragana
                             : script == QChar::Script_Common ? QChar::Script_Latin
                                                              : script;
    return {Letter, quint8(as), quint8(QChar::isUpper(c) ? Upper : QChar::isLower(c) ? Lower : 0)};
}

// The traits of every character of the Basic Multilingual Plane, made once.
const std::vector<Traits> &bmp_traits()
{
    static const std::vector<Traits> traits = [] {
        std::vector<Traits> all(0x10000);
        // The span of the letters GB2312 holds of each script it carries,
        // widened to whole columns of 16: the common letters of that
        // alphabet (Cyrillic 0400-045F, Greek 0390-03CF).
        QHash<quint8, std::pair<char32_t, char32_t>> spans;
        for (char32_t c = 0; c <= 0xFFFF; ++c) {
            all[c] = classify(c);
            if (all[c].kind == Letter && gb2312_row(c) != 0) {
                const char32_t first = c & ~char32_t(0xF), last = c | 0xF;
                const auto span = spans.value(all[c].script, {first, last});
                spans.insert(all[c].script, {std::min(span.first, first), std::max(span.second, last)});
            }
        }
        auto common = [&](char32_t c) {
            if (c < 0x80)
                return true;
            const auto span = spans.value(all[c].script);
            return c >= span.first && c <= span.second;
        };
        // Beyond the span, a letter is common as an accented form of a
        // common one (Ά, Ї), rare when its script is carried but it is not.
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            Traits &t = all[c];
            if (t.kind != Letter || !spans.contains(t.script) || common(c))
                continue;
            const QString base = QString(QChar(char16_t(c))).normalized(QString::NormalizationForm_D);
            if (base.isEmpty() || base[0].unicode() == c || !common(base[0].unicode()))
                t.flags |= Rare;
        }
        return all;
    }();
    return traits;
}

Traits traits_of(char32_t c)
{
    if (c <= 0xFFFF)
        return bmp_traits()[c];
    Traits t = classify(c);
    if (t.kind == Letter)
        t.flags |= Rare;
    return t;
}

} // namespace

void ReadingCost::add(char32_t c)
{
    m_waiting[m_count++] = traits_of(c);
    const auto ends = [this] {
        return std::any_of(m_waiting + 1, m_waiting + m_count,
                           [](const Traits &t) { return t.kind == Break; });
    };
    while (m_count > kAhead || (m_count > 1 && ends()))
        judge_first();
}

void ReadingCost::finish()
{
    while (m_count > 0)
        judge_first();
    m_before[0] = m_before[1] = m_letterBefore = Traits{};
}

void ReadingCost::judge_first()
{
    // What the first one sees after it: up to the end of its line.
    int seen = 0;
    while (1 + seen < m_count && (seen == 0 || m_waiting[seen].kind != Break))
        ++seen;
    const Traits c = m_waiting[0];
    m_bits += cost_of(m_waiting + 1, seen);
    m_before[1] = m_before[0];
    m_before[0] = c;
    if (c.kind == Break)
        m_letterBefore = Traits{};
    else if (is_wordlike(c))
        m_letterBefore = c;
    std::copy(m_waiting + 1, m_waiting + m_count, m_waiting);
    --m_count;
}

int ReadingCost::cost_of(const Traits *ahead, int seen) const
{
    const Traits &c = m_waiting[0];
    const Traits &before = m_before[0], &before2 = m_before[1], &letterBefore = m_letterBefore;
    const Traits none;
    const Traits &after = seen > 0 ? ahead[0] : none, &after2 = seen > 1 ? ahead[1] : none;
    const Traits *next = std::find_if(ahead, ahead + seen, [](const Traits &t) { return is_wordlike(t); });
    const Traits &letterAfter = next < ahead + seen ? *next : none;

    const Cost cost = kCosts[c.kind];
    int bits = cost.usual;
    // A letter that makes a word with this one: for an accented Latin one an
    // ASCII letter, or a Latin letter with an ASCII one on its far side
    // ("Další"); for others a common letter of the same script.
    const bool latin = c.script == QChar::Script_Latin;
    auto partner = [&](const Traits &t, const Traits &far) {
        if (latin)
            return t.kind == AsciiLetter || (is_latin(t) && far.kind == AsciiLetter);
        return is_letter(t) && t.script == c.script && !(t.flags & Rare);
    };
    // Stuck to a Latin word on both sides, or on one side and not among
    // Chinese text on the other; or alone among Latin words.
    auto among_latin = [&] {
        if (is_latin(before) && is_latin(after))
            return kInLatinWord;
        if ((is_latin(before) && !is_chinese(after)) || (is_latin(after) && !is_chinese(before)))
            return kBesideLatin;
        const bool apart =
            !is_wordlike(before) && !is_chinese(before) && !is_wordlike(after) && !is_chinese(after);
        return apart && (is_latin(letterBefore) || is_latin(letterAfter)) && !is_han(letterBefore) &&
                       !is_han(letterAfter)
                   ? kBesideLatin
                   : 0;
    };
    switch (c.kind) {
    case Letter: {
        // In a word: beside a partner, or a word of one letter among words
        // of its script ("è", "и").
        const bool oneLetter = !is_wordlike(before) && !is_wordlike(after);
        const bool flipped =
            (c.flags & Upper) && is_letter(before) && before.script == c.script && (before.flags & Lower);
        if (!flipped && (partner(before, before2) || partner(after, after2)))
            bits = latin ? kLatinInWord : cost.usual;
        else if (!flipped && oneLetter &&
                 (partner(letterBefore, letterBefore) || partner(letterAfter, letterAfter) ||
                  (latin && (is_latin(letterBefore) || is_latin(letterAfter)))))
            bits = latin ? kLatinOneLetterWord : cost.usual;
        else
            bits = cost.alone;
        if (c.flags & Rare)
            bits += kRareLetter;
        if (!latin)
            bits += among_latin();
        break;
    }
    case Mark:
        if (!(is_letter(before) || before.kind == Mark) ||
            (c.script != QChar::Script_Inherited && c.script != QChar::Script_Common &&
             before.script != c.script))
            bits = cost.alone;
        break;
    case Modifier:
        if (!is_latin(before) && !is_latin(after))
            bits = cost.alone;
        break;
    case Symbol:
    case Punctuation:
    case CjkSymbol:
        if ((c.flags & Punctuating) && (is_latin(letterBefore) || is_latin(letterAfter)))
            bits = std::min(bits, kLatinPunctuation);
        break;
    case Han1:
    case Han2:
    case HanRare:
    case HanOutside:
        bits += among_latin();
        break;
    default:
        break;
    }
    return bits;
}

} // namespace torvale
