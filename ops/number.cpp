#include "number.h"

#include <QLocale>

#include <cmath>
#include <optional>

namespace torvale {

namespace {

bool is_blank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool is_ascii_digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Beyond these powers of ten a double is infinite or zero.
constexpr long kLargestPower = 400;

// The power of ten of the first digit that is not zero, for the digits of
// the whole part, those of the fraction and the exponent; nothing when every
// digit is zero.
std::optional<long> leading_power(const QString &whole, const QString &fraction, long exponent)
{
    for (qsizetype i = 0; i < whole.size(); ++i) {
        if (whole[i] != QLatin1Char('0'))
            return long(whole.size() - i - 1) + exponent;
    }
    for (qsizetype i = 0; i < fraction.size(); ++i) {
        if (fraction[i] != QLatin1Char('0'))
            return -long(i + 1) + exponent;
    }
    return std::nullopt;
}

} // namespace

QString trim_spaces(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

double parse_start_number(const QString &text)
{
    const QString t = trim_spaces(text);
    const qsizetype n = t.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && is_blank(t[i]))
            ++i;
    };
    auto readDigits = [&](QString &into) {
        for (;;) {
            skipBlanks();
            if (i < n && is_ascii_digit(t[i]))
                into += t[i++];
            else
                return;
        }
    };

    skipBlanks();
    bool negative = false;
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        negative = t[i++] == QLatin1Char('-');
    QString whole, fraction;
    readDigits(whole);
    skipBlanks();
    if (i < n && t[i] == QLatin1Char('.')) {
        ++i;
        readDigits(fraction);
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return 0;
    long exponent = 0;
    skipBlanks();
    if (i < n && (t[i] == QLatin1Char('E') || t[i] == QLatin1Char('e'))) {
        ++i;
        skipBlanks();
        bool minus = false;
        if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            minus = t[i++] == QLatin1Char('-');
        QString digits;
        readDigits(digits);
        for (QChar d : digits)
            exponent = std::min(exponent * 10 + (d.unicode() - '0'), 100 * kLargestPower);
        if (minus)
            exponent = -exponent;
    }
    const std::optional<long> power = leading_power(whole, fraction, exponent);
    if (!power || *power < -kLargestPower)
        return 0;
    if (*power > kLargestPower)
        return negative ? -HUGE_VAL : HUGE_VAL;
    const QString number = (negative ? QStringLiteral("-") : QString()) +
                           (whole.isEmpty() ? QStringLiteral("0") : whole) + QLatin1Char('.') + fraction +
                           QLatin1Char('e') + QString::number(exponent);
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (!ok) // at the edge of the range
        return *power > 0 ? (negative ? -HUGE_VAL : HUGE_VAL) : 0;
    return value;
}

QString number_text(double number)
{
    if (number == 0)
        return QStringLiteral("0"); // also for -0
    if (number == std::floor(number))
        return QString::number(number, 'f', 0);
    const QString g = QString::number(number, 'g', 15);
    const qsizetype e = g.indexOf(QLatin1Char('e'));
    if (e < 0)
        return g;
    // Spell out the exponent: move the decimal point.
    QString mantissa = g.left(e);
    const int exponent = g.mid(e + 1).toInt();
    const bool negative = mantissa.startsWith(QLatin1Char('-'));
    if (negative)
        mantissa.remove(0, 1);
    qsizetype point = mantissa.indexOf(QLatin1Char('.'));
    if (point < 0)
        point = mantissa.size();
    QString digits = mantissa;
    digits.remove(QLatin1Char('.'));
    qsizetype newPoint = point + exponent;
    if (newPoint <= 0) {
        digits.prepend(QString(-newPoint, QLatin1Char('0')));
        newPoint = 0;
    } else if (newPoint > digits.size()) {
        digits.append(QString(newPoint - digits.size(), QLatin1Char('0')));
    }
    QString result = digits.left(newPoint);
    QString fraction = digits.mid(newPoint);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (result.isEmpty())
        result = QStringLiteral("0");
    if (!fraction.isEmpty())
        result += QLatin1Char('.') + fraction;
    return negative ? QLatin1Char('-') + result : result;
}

} // namespace torvale
