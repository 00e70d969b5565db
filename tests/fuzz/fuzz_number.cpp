// Properties: the number text of a parsed number reads back as a number with
// the same text; whole numbers read back exactly.
#include "ops/number.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const double number = torvale::parse_start_number(input);
    if (std::isnan(number))
        std::abort();
    if (!std::isfinite(number) || std::fabs(number) > 1e300)
        return 0;
    const QString text = torvale::number_text(number);
    const double back = torvale::parse_start_number(text);
    if (torvale::number_text(back) != text)
        std::abort();
    if (number == std::floor(number) && back != number)
        std::abort();
    if (text.contains(QLatin1Char('e')) || text.contains(QLatin1Char('E')))
        std::abort();
    return 0;
}
