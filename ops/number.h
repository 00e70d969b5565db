#pragma once

#include <QString>

namespace torvale {

// The number rule: the text read from its start as a decimal number (sign,
// digits, decimal point and fraction, exponent), blanks between its characters
// skipped, the rest ignored; 0 when no digit is read. A number too large for
// a double is infinite (and refused by the rename); one too small is 0.
double parse_start_number(const QString &text);

// The text without the spaces (only U+0020) at its start and end, as the
// prefix and the start number are read.
QString trim_spaces(const QString &text);

// A number in plain decimal notation: whole numbers as their digits, others
// with a decimal point and at most 15 significant digits in all.
QString number_text(double number);

} // namespace torvale
