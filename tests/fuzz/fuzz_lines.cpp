// Property: the lines, joined again with CR, give the text with each CR LF
// taken as one line end, each lone LF as a CR, and a final line end dropped.
#include "files/linefile.h"

#include <QStringList>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList lines;
    torvale::split_lines(text, [&](const QString &line) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            std::abort();
        lines << line;
    });
    QString expected = text;
    expected.replace(QLatin1String("\r\n"), QLatin1String("\r"));
    expected.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    if (expected.endsWith(QLatin1Char('\r')))
        expected.chop(1);
    if (lines.join(QLatin1Char('\r')) != expected)
        std::abort();
    return 0;
}
