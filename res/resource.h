// Resource ids of the program.
#pragma once

#define IDM_ABOUTBOX 0x0010
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDR_MAINFRAME 102
#define IDD_ROLVANE_DIALOG 103
#define IDD_LOGIN 104
#define IDD_ADVANCE 105

// Main dialog
#define IDC_STATIC_CURUSER 17401
#define IDC_EDIT_NAME 17402
#define IDC_EDIT_PWD 17403
#define IDC_COMBO_LEVEL 17404
#define IDC_CHECK_ALL 17405
#define IDC_STATIC_PWD 17406
#define IDC_EDIT_NEWPWD 17407
#define IDC_EDIT_CONFIRM 17408
#define IDC_STATIC_CONFIRM 17409
#define IDC_STATIC_NEWPWD 17410
#define IDC_USER_LIST 17411
#define IDC_CHECK_TEMPLATE 17412
#define IDC_GROUP_PERM 17420
#define IDC_BTN_ITEMS 17427
// Run-time permission boxes take IDC_PERM_BOX_FIRST + item position.
#define IDC_PERM_BOX_FIRST 17450

// User menu
#define IDR_MENU_USER 17413
#define ID_USER_NEW 17414
#define ID_USER_EDIT 17415
#define ID_USER_DELETE 17416
#define ID_USER_REFRESH 17417
#define ID_USER_CHANGEPWD 17418
#define ID_USER_CLEARPWD 17419

// Permission item list
#define IDC_ITEM_LIST 17422

// Posted to the main dialog by the permission item editor as it closes after
// items were added or deleted.
#define WM_LIMITS_CHANGED 2029

// Login dialog
#define IDC_EDIT_ACCOUNT 17428
#define IDC_EDIT_LOGINPWD 17429
#define IDC_BTN_LOGIN 17430
