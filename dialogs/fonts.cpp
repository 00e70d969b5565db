#include "fonts.h"

#include <QStringList>

QFont song_font(int pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("AR PL UMing"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("serif")});
    font.setPointSize(pointSize);
    return font;
}
