// Dialog templates, the user menu and the string table, registered at
// start-up. Sizes are dialog units.
#include "res/resource.h"
#include "ui/framework.h"

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::DialogTemplate;

constexpr DWORD kVisible = WS_CHILD | WS_VISIBLE;
constexpr DWORD kEdit = kVisible | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kPassword = kEdit | ES_PASSWORD;
constexpr DWORD kStatic = kVisible | SS_LEFT;
constexpr DWORD kPush = kVisible | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kDefPush = kVisible | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kCheck = kVisible | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kGroup = kVisible | BS_GROUPBOX;
constexpr DWORD kModalFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

DialogTemplate aboutBox() {
    return {
        IDD_ABOUTBOX,
        "关于 rolvane",
        170,
        62,
        "MS Shell Dlg",
        9,
        kModalFrame,
        {
            {ControlKind::Icon, "", IDC_STATIC, 14, 14, 20, 20, kVisible | SS_ICON, IDR_MAINFRAME},
            {ControlKind::Static, "rolvane，1.0 版", IDC_STATIC, 42, 14, 114, 8,
             kStatic | SS_NOPREFIX},
            {ControlKind::Static, "用户、级别与权限项管理", IDC_STATIC, 42, 26, 114, 8, kStatic},
            {ControlKind::Button, "确定", IDOK, 113, 41, 50, 14, kDefPush | WS_GROUP},
        }};
}

DialogTemplate mainDialog() {
    return {IDD_ROLVANE_DIALOG,
            "用户权限管理 v2.0",
            401,
            335,
            "宋体",
            9,
            kModalFrame | WS_MINIMIZEBOX,
            {
                {ControlKind::ListView, "", IDC_USER_LIST, 6, 8, 387, 89,
                 kVisible | WS_BORDER | WS_TABSTOP | LVS_REPORT},
                {ControlKind::Static, "用户名：", IDC_STATIC, 15, 120, 36, 13, kStatic},
                {ControlKind::Edit, "", IDC_EDIT_NAME, 54, 118, 79, 13, kEdit},
                {ControlKind::Static, "级别：", IDC_STATIC, 138, 120, 32, 13, kStatic},
                {ControlKind::ComboBox, "", IDC_COMBO_LEVEL, 172, 118, 79, 58,
                 kVisible | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT},
                {ControlKind::Static, "密码：", IDC_STATIC_PWD, 15, 142, 27, 13, kStatic},
                {ControlKind::Edit, "", IDC_EDIT_PWD, 54, 141, 79, 13, kPassword},
                {ControlKind::Static, "新密码：", IDC_STATIC_NEWPWD, 138, 143, 34, 13, kStatic},
                {ControlKind::Edit, "", IDC_EDIT_NEWPWD, 172, 140, 79, 12, kPassword},
                {ControlKind::Static, "确认密码：", IDC_STATIC_CONFIRM, 261, 142, 41, 10, kStatic},
                {ControlKind::Edit, "", IDC_EDIT_CONFIRM, 306, 140, 79, 13, kPassword},
                {ControlKind::Static, "当前用户：", IDC_STATIC_CURUSER, 64, 315, 167, 10, kStatic},
                {ControlKind::Button, "保存(&S)", IDOK, 237, 312, 50, 18, kDefPush},
                {ControlKind::Button, "取消(&C)", IDCANCEL, 291, 312, 50, 18, kPush},
                {ControlKind::Button, "权限项设置", IDC_BTN_ITEMS, 345, 312, 50, 18, kPush},
                {ControlKind::Button, "选择所有", IDC_CHECK_ALL, 7, 312, 43, 13, kCheck},
                {ControlKind::Button, "基本信息", IDC_STATIC, 6, 101, 388, 63, kGroup},
                {ControlKind::Button, "权限", IDC_GROUP_PERM, 6, 170, 388, 135, kGroup},
                // Never shown: the size of the run-time permission boxes.
                {ControlKind::Button, "", IDC_CHECK_TEMPLATE, 21, 180, 64, 13,
                 WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX},
            }};
}

DialogTemplate loginDialog() {
    return {IDD_LOGIN,
            "登陆 -用户权限管理",
            200,
            110,
            "MS Shell Dlg",
            8,
            kModalFrame,
            {
                {ControlKind::Edit, "", IDC_EDIT_ACCOUNT, 77, 31, 85, 14, kEdit},
                {ControlKind::Edit, "", IDC_EDIT_LOGINPWD, 77, 58, 85, 14, kPassword},
                {ControlKind::Button, "登陆", IDC_BTN_LOGIN, 51, 86, 50, 17, kDefPush},
                {ControlKind::Button, "退出", IDCANCEL, 116, 86, 50, 17, kPush},
                {ControlKind::Static, "账号：", IDC_STATIC, 37, 33, 27, 10, kStatic},
                {ControlKind::Static, "密码：", IDC_STATIC, 37, 60, 27, 10, kStatic},
                {ControlKind::Static, "欢迎使用用户管理程序，请登录...", IDC_STATIC, 2, 9, 195, 14,
                 kVisible | SS_CENTER},
            }};
}

DialogTemplate itemDialog() {
    return {IDD_ADVANCE,
            "权限项列表",
            259,
            183,
            "MS Shell Dlg",
            8,
            kModalFrame,
            {
                {ControlKind::ListView, "", IDC_ITEM_LIST, 3, 0, 256, 182,
                 kVisible | WS_BORDER | WS_TABSTOP | LVS_REPORT},
            }};
}

ui::MenuTemplate userMenu() {
    return {IDR_MENU_USER,
            {{"用户",
              0,
              {
                  {"新建（&N）", ID_USER_NEW, {}},
                  {"编辑（&E）", ID_USER_EDIT, {}},
                  {"修改密码", ID_USER_CHANGEPWD, {}},
                  {"清空密码", ID_USER_CLEARPWD, {}},
                  {"删除（&D）", ID_USER_DELETE, {}},
                  {"刷新（&F）", ID_USER_REFRESH, {}},
              }}}};
}

const bool g_registered = [] {
    ui::RegisterDialog(aboutBox());
    ui::RegisterDialog(mainDialog());
    ui::RegisterDialog(loginDialog());
    ui::RegisterDialog(itemDialog());
    ui::RegisterMenu(userMenu());
    ui::RegisterString(IDS_ABOUTBOX, "关于 rolvane(&A)...");
    return true;
}();

}  // namespace
