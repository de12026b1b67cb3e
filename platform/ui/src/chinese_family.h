// The installed family that shows Chinese, as the dialogs use it. Depends on
// QtGui alone, so the start-up bench's anchor dialog builds it in too.
#pragma once

#include <QString>

namespace ui::detail {

// Empty when no installed family shows Chinese.
QString chineseFamily();

}  // namespace ui::detail
