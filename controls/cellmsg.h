// Messages and child ids shared by the editable list and its editors.
#pragma once

#include "ui/framework.h"

// List -> its parent: a cell's text changed (notify mode). wParam: row in the
// low word, column in the high word; lParam: the list's HWND.
constexpr UINT WM_CELL_CHANGED = 1225;
// Editor -> the list: the editor lost the focus; end the edit.
constexpr UINT WM_CELL_ENDEDIT = 10000;

constexpr UINT IDC_CELL_EDIT = 0xfff1;
constexpr UINT IDC_CELL_COMBO = 0xfff2;
