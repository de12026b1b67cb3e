// Version information of the program.
#pragma once

#define ROLVANE_FILE_VERSION "1.0.0.1"
#define ROLVANE_PRODUCT_VERSION "2.0"
#define ROLVANE_PRODUCT_NAME "rolvane"
#define ROLVANE_FILE_DESCRIPTION "用户权限管理"
#define ROLVANE_COPYRIGHT "Copyright (C) 2026"
