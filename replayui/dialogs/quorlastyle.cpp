#include "quorlastyle.h"

#include <QFont>
#include <QStringList>

void installFontFallback() {
    // The style sheet names the Windows font; these carry the same glyphs on Linux.
    QFont::insertSubstitutions(
        QStringLiteral("Microsoft YaHei"),
        {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
         QStringLiteral("Droid Sans Fallback")});
}
