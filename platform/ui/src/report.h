// Lines for whoever runs the program rather than for the operator.
#pragma once

#include <QString>

namespace ui::detail {

// On standard error, after the program's name, and in the platform's system
// log at `level` (LOG_NOTICE, LOG_WARNING ...).
void reportLine(int level, const QString& text);

}  // namespace ui::detail
