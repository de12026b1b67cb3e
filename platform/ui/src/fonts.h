// Fonts: the framework's CFont as a QFont, and the template faces mapped to
// an installed family.
#pragma once

#include <QFont>
#include <QString>

#include "ui/framework.h"

namespace ui::detail {

QFont qfontOf(const CFont* font);
void setQFont(CFont& font, const QFont& qfont);
// "宋体" and "MS Shell Dlg" become the installed CJK-capable family.
QString mapFaceName(const QString& face);

}  // namespace ui::detail
