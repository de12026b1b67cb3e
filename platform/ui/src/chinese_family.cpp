#include <QFontDatabase>
#include <QStringList>

#include "ui/family_qt.h"

namespace ui {

QString chineseFamily() {
    // Debian's default family for Chinese first; the set-up installs it.
    const QStringList families = QFontDatabase::families();
    for (const QString& preferred :
         {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")})
        if (families.contains(preferred)) return preferred;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return chinese.isEmpty() ? QString() : chinese.first();
}

}  // namespace ui
