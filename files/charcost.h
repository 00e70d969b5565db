#pragma once

#include <QtGlobal>

namespace torvale {

// How unlikely a reading of a text is: the sum, over its characters, of how
// rarely a person meets each one in text, in bits (see charcost.cpp). The
// lower of two readings of the same bytes is the one a reader would
// recognise. Characters go in one at a time, in order; each is judged with
// its neighbours and the nearest letters on either side in its line, so the
// last ones count once finish() is called.
class ReadingCost
{
public:
    void add(char32_t c);
    // The text ends here, or a piece of it that ends with a line end: the
    // next piece starts as a text of its own would, so pieces add up to the
    // whole.
    void finish();
    qint64 bits() const { return m_bits; }

    struct Traits
    {
        quint8 kind = 0;
        quint8 script = 0;
        quint8 flags = 0;
    };

private:
    // A character is judged once this many after it are known, or its line
    // has ended: it sees no further.
    static constexpr int kAhead = 8;
    void judge_first();
    int cost_of(const Traits *ahead, int seen) const;

    Traits m_before[2];    // the two characters before the first one waiting, nearest first
    Traits m_letterBefore; // the nearest letter before it, in its line
    Traits m_waiting[kAhead + 1];
    int m_count = 0;
    qint64 m_bits = 0;
};

} // namespace torvale
