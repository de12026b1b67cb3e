// Everything program code uses of the dialog framework.
#pragma once

#include "ui/app.h"
#include "ui/controls.h"
#include "ui/cstring.h"
#include "ui/dialog.h"
#include "ui/menu.h"
#include "ui/msgmap.h"
#include "ui/resource.h"
#include "ui/runtimeclass.h"
#include "ui/types.h"
#include "ui/wnd.h"
