// Painting of a minimised dialog: its icon, centred.
#pragma once

#include "ui/framework.h"

void PaintMinimizedIcon(CWnd* pWnd, HICON hIcon);
