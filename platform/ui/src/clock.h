// The framework's clock and the time of the last input, which GetTickCount,
// GetLastInputInfo and timers share.
#pragma once

#include "ui/types.h"

namespace ui::detail {

// Milliseconds by the framework's clock (see ui::SetClockRate).
DWORD tickCount();
// An input event arrived now.
void noteInput();

}  // namespace ui::detail
