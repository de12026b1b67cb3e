// Icons registered as resources, as Qt icons.
#pragma once

#include <QIcon>

#include "ui/framework.h"

namespace ui::detail {

QIcon qiconOf(HICON icon);
HICON loadIcon(int id);

}  // namespace ui::detail
