// The installed family that shows Chinese, as the dialogs use it. Speaks Qt
// and depends on QtGui alone (library ui_family), so that the start-up
// benchmark's anchors show their text in the program's family too.
#pragma once

#include <QString>

namespace ui {

// Empty when no installed family shows Chinese.
QString chineseFamily();

}  // namespace ui
