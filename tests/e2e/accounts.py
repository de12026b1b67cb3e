"""End-to-end scenarios: an operator at the real window, on a real store.

usage: dbus-run-session -- /usr/bin/python3 accounts.py --rolvane R
       --keyward K --libkeyward L SCENARIO
"""

import os
import signal
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (  # noqa: E402
    CURRENT_USER,
    Failure,
    Skipped,
    LOGIN_TITLE,
    MAIN_TITLE,
    OK,
    T,
    center,
    check,
    check_equal,
    collect,
    describe,
    english,
    entry,
    find_all,
    has_state,
    main,
    text_of,
    wait_until,
    walk,
    NO,
    YES,
)

ROOT_PW = "Root-pw1"
DESKTOP_ENTRY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../dist/org.varnock.rolvane.desktop")
FAILED = "登录失败"
WARNING = "警告"
NOTICE = "提示"
ERROR = "错误"
SYS_ITEM = "系统权限"


NEW = "新建（&N）"
EDIT = "编辑（&E）"
CHANGE_PWD = "修改密码"
CLEAR_PWD = "清空密码"
DELETE = "删除（&D）"
REFRESH = "刷新（&F）"


def offered(entries):
    """A menu's entries {text of the program: enabled} as the tree names them."""
    return {entry(T(text)): enabled for text, enabled in entries.items()}


def listed_rows(s):
    """What the window's list must show for the store as it is now."""
    return [
        (f"{i + 1:02d}", name, level, bit_text(int(mask, 16), len(items)))
        for i, (name, level, mask, items) in enumerate(s.users())
    ]


def bit_text(mask, count):
    bits = ""
    while mask:
        bits += "1" if mask & 1 else "0"
        mask >>= 1
    return bits.ljust(count, "0")


def status(user, level):
    return T("当前用户：%s   级别：%s") % (user, level)


def log_in(s, user, password, level):
    """A fresh start of the program, logged in through the login window."""
    p = s.start()
    p.login(user, password)
    wait_until("the status line", lambda: p.status_line() == status(user, level))
    return p


def close(s, p):
    """Closes the main window through the window manager's close command."""
    s.xdotool("windowactivate", "--sync", s.xdotool("search", "--name", f"^{T(MAIN_TITLE)}$").split()[0])
    s.key("alt+F4")
    check_equal(p.wait_exit(10), 0, "exit status after closing the main window")


def wait_rows(s, p, what, names):
    """Waits until the store holds these user names, in this order, and the
    list shows the store as it is; returns the rows."""

    def shown():
        rows = p.rows()
        return rows if [r[1] for r in rows] == names and rows == listed_rows(s) else None

    try:
        return wait_until(f"the list and the store to show {names} ({what})", shown, timeout=5)
    except Failure as f:
        raise Failure(f"{f}; the list shows {p.rows()}, the store {listed_rows(s)}") from None


def check_no_secrets(s, secrets):
    """No typed password is stored as text in the database or its journal."""
    for suffix in ("", "-wal", "-journal"):
        path = s.db + suffix
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        for secret in secrets:
            check(secret.encode() not in data, f"the password {secret!r} is in {os.path.basename(path)}")


def scenario_login(s):
    """Start, the login's refusals, a successful login, closing, a second start."""
    s.init_store("root", ROOT_PW)
    s.step("start")
    p = s.start()
    p.window(LOGIN_TITLE, timeout=20)
    s.screenshot("login")
    # Docks find the desktop entry, and its icon, by the window's class.
    with open(DESKTOP_ENTRY, encoding="utf-8") as f:
        wm_class = [line.split("=", 1)[1].strip() for line in f if line.startswith("StartupWMClass=")]
    check_equal(len(wm_class), 1, "StartupWMClass lines in the desktop entry")
    window = s.xdotool("search", "--name", f"^{T(LOGIN_TITLE)}$").split()[0]
    check_equal(
        s.run(["xprop", "-id", window, "WM_CLASS"]).strip(),
        f'WM_CLASS(STRING) = "rolvane", "{wm_class[0]}"',
        "the login window's class",
    )
    # The list is read before anyone logs in.
    check_equal(p.rows(), listed_rows(s), "the list behind the login window")
    check_equal(p.rows()[0][:3], ("01", "root", "Level_4"), "root's row")

    # (account, password, message, box with the focus afterwards, all selected)
    refusals = [
        ("", "x", "用户名不能为空.", "account", False),
        ("root", "", "密码不能为空.", "password", False),
        ("nobody", ROOT_PW, "用户名错误.", "account", True),
        # No account has a name that long: the same answer as for any unknown name.
        ("a" * 36, ROOT_PW, "用户名错误.", "account", True),
        ("root", "wrong-pw", "登录密码错误.", "password", True),
    ]
    for user, password, text, focus, selected in refusals:
        s.step(f"login refused: {text}")
        p.login(user, password, expect_ok=False)
        p.expect_message(FAILED, text)
        p.expect_focus(p.login_fields()[focus], selected)
    check_equal(p.status_line(), T(CURRENT_USER), "the status line before a login")

    s.step("login as root")
    p.login("root", ROOT_PW)
    wait_until("the status line", lambda: p.status_line() == status("root", "Level_4"))
    s.screenshot("logged-in")
    check_equal(p.rows(), listed_rows(s), "the list after the login")

    # An unknown user's typed name stays out of the trail (it may be a password).
    outcomes = [(act, t, o) for (_, act, t, o) in s.audit() if act == "login"]
    check_equal(
        outcomes,
        [
            ("login", "-", "no_such_user"),
            ("login", "-", "no_such_user"),
            ("login", "root", "bad_password"),
            ("login", "root", "ok"),
        ],
        "the login attempts in the audit trail",
    )

    s.step("close and start again")
    # The close box (through the window manager) ends the program.
    close(s, p)

    # A second start shows the login again; its Exit button ends the program.
    p2 = s.start()
    w = p2.window(LOGIN_TITLE, timeout=20)
    p2.press(w, "退出")
    check_equal(p2.wait_exit(10), 0, "exit status after Exit in the login window")
    check_equal(len([a for a in s.audit() if a[1] == "login"]), 4, "login attempts after the second start")


def scenario_manage(s):
    """root creates, refuses, edits, re-passwords, clears and deletes op1."""
    op1_pw, new_pw, third_pw = "Op1-first", "Op1-second", "Op1-third"
    s.init_store("root", ROOT_PW)
    p = log_in(s, "root", ROOT_PW, "Level_4")

    s.step("menu below the rows; new user op1")
    menu, entries = p.context_menu(None)
    check_equal(
        entries,
        offered({NEW: True, EDIT: False, CHANGE_PWD: False, CLEAR_PWD: False, DELETE: False, REFRESH: True}),
        "the menu below the last row",
    )
    p.choose(menu, NEW)
    wait_until("the new-user form", lambda: p.shown_fields() == ["level", "name", "password"], timeout=5)
    f = p.fields()
    check_equal(text_of(f["name"]), "", "the name box of a new user")
    p.fill(f["name"], "op1")
    p.fill(f["password"], op1_pw)
    p.choose_level("Level_2")
    p.tick(SYS_ITEM)
    s.screenshot("new-user")
    p.save()
    rows = wait_rows(s, p, "after saving op1", ["root", "op1"])
    p.no_message_box(settle=0)
    check_equal(rows[-1], ("02", "op1", "Level_2", "1"), "op1's row, listed last")
    check_equal(s.users()[-1], ("op1", "Level_2", "0x00000001", "1"), "op1 in the store")
    check_equal(p.shown_fields(), ["level", "name"], "the form after saving")

    s.step("refusals: a second op1, a name of 32 letters")
    p.command(None, NEW)
    f = p.fields()
    p.fill(f["name"], "op1")
    p.fill(f["password"], "x")
    p.save()
    p.expect_message(WARNING, "用户名已经存在..")
    p.expect_focus(f["name"], selected=True)
    p.fill(f["name"], "a" * 32)
    p.save()
    p.expect_message(WARNING, "用户名长度不能超过32位..")
    p.expect_focus(f["name"], selected=True)
    # Lengths are bytes of CP936 text: sixteen Chinese characters are 32.
    p.fill(f["name"], "操作员" * 5 + "甲")
    p.save()
    p.expect_message(WARNING, "用户名长度不能超过32位..")
    s.key("Escape")  # gives up the new user
    wait_until("the form back to browsing", lambda: p.shown_fields() == ["level", "name"], timeout=5)
    check(not has_state(p.fields()["name"], "sensitive"), "the name box is disabled after Escape")
    check_equal(len(s.users()), 2, "users after the refused saves")

    s.step("edit op1: it loses the system permission")
    p.command(1, EDIT)
    wait_until("the name box focused", lambda: has_state(p.fields()["name"], "focused"), timeout=5)
    p.tick(SYS_ITEM, False)
    s.key("Return")  # Save is the default button
    wait_until("the edit stored", lambda: s.users()[1][2] == "0x00000000", timeout=5)
    rows = wait_rows(s, p, "after editing op1", ["root", "op1"])
    check_equal(rows[1], ("02", "op1", "Level_2", "0"), "op1's row after the edit")

    s.step("change op1's password: a wrong old one, then the right one")
    p.command(1, CHANGE_PWD)
    password_form = ["confirm", "level", "name", "new", "password"]
    wait_until("the password form", lambda: p.shown_fields() == password_form, timeout=5)
    f = p.fields()
    check_equal(text_of(f["name"]), "op1", "the name box while changing op1's password")
    p.fill(f["password"], "not-it")
    p.fill(f["new"], new_pw)
    p.fill(f["confirm"], new_pw)
    s.screenshot("password-form")
    p.save()
    p.expect_message(WARNING, "旧密码输入错误..")
    p.expect_focus(f["password"], selected=True)
    p.fill(f["password"], op1_pw)
    p.save()
    p.expect_message(NOTICE, "修改密码成功..")
    wait_until("the form back to browsing", lambda: p.shown_fields() == ["level", "name"], timeout=5)
    close(s, p)

    s.step("a fresh start: op1 logs in with the new password only")
    p = s.start()
    p.login("op1", op1_pw, expect_ok=False)
    p.expect_message(FAILED, "登录密码错误.")
    p.login("op1", new_pw)
    wait_until("op1's status line", lambda: p.status_line() == status("op1", "Level_2"))
    close(s, p)

    s.step("root clears op1's password; a change from the empty one sets a new one")
    p = log_in(s, "root", ROOT_PW, "Level_4")
    for answer in (NO, YES):  # the audit trail below shows one clear only
        p.command(1, CLEAR_PWD)
        p.expect_message("确认", T("确认将用户：%s 密码清空吗?") % "op1", answer=answer)
    wait_until("the clear stored", lambda: any(a[1] == "password_clear" for a in s.audit()), timeout=5)
    p.no_message_box()
    check_equal(s.store_call("op1", "", "get_user_group", "op1"), 2, "op1 logging in with the empty password")
    p.command(1, CHANGE_PWD)
    f = p.fields()
    p.fill(f["new"], third_pw)
    p.fill(f["confirm"], third_pw)
    p.save()
    p.expect_message(NOTICE, "修改密码成功..")
    check_equal(s.store_call("op1", third_pw, "get_user_group", "op1"), 2, "op1 logging in after the clear")

    s.step("delete op1: No changes nothing, Yes deletes")
    question = T("确认删除此用户吗？用户名：%s") % "op1"
    p.command(1, DELETE)
    p.expect_message(NOTICE, question, answer=NO)
    p.no_message_box()
    check_equal([u[0] for u in s.users()], ["root", "op1"], "users after answering No")
    check_equal(len(p.rows()), 2, "rows after answering No")
    p.command(1, DELETE)
    p.expect_message(NOTICE, question, answer=YES)
    p.expect_message(NOTICE, "删除用户成功..")
    check_equal([u[0] for u in s.users()], ["root"], "users after the deletion")
    wait_until("op1 gone from the list", lambda: [r[1] for r in p.rows()] == ["root"], timeout=5)
    check_equal(text_of(p.fields()["name"]), "root", "the form shows the row above the deleted one")

    s.step("the audit trail and the database file")
    audit = [a for a in s.audit() if a[1].startswith(("user_", "password_"))]
    check(all(a[0] == "root" for a in audit), f"root made every change: {audit}")
    changes = [a[1:] for a in audit]
    check_equal(
        changes,
        [
            ("user_add", "op1", "ok"),
            ("user_change", "op1", "ok"),
            ("password_change", "op1", "bad_password"),
            ("password_change", "op1", "ok"),
            ("password_clear", "op1", "ok"),
            ("password_change", "op1", "ok"),
            ("user_delete", "op1", "ok"),
        ],
        "the changes in the audit trail",
    )
    close(s, p)
    check_no_secrets(s, [ROOT_PW, op1_pw, new_pw, third_pw])


def scenario_rights(s):
    """What a level-2 and a level-0 operator are offered and refused."""
    s.init_store("root", ROOT_PW)
    for name, password, level in (("op2", "Op2-pw", 2), ("op0", "Op0-pw", 0)):
        check_equal(s.store_call("root", ROOT_PW, "add_user", name, password, level, 0), 0, f"adding {name}")
    p = log_in(s, "op2", "Op2-pw", "Level_2")
    rows = wait_rows(s, p, "at the start", ["root", "op2", "op0"])
    check_equal([r[2] for r in rows], ["Level_4", "Level_2", "Level_0"], "the levels")

    s.step("op2's menu on each row")
    barred = offered({NEW: True, EDIT: False, CHANGE_PWD: True, CLEAR_PWD: False, DELETE: False, REFRESH: True})
    allowed = offered({NEW: True, EDIT: True, CHANGE_PWD: True, CLEAR_PWD: True, DELETE: True, REFRESH: True})
    empty = offered({NEW: True, EDIT: False, CHANGE_PWD: False, CLEAR_PWD: False, DELETE: False, REFRESH: True})
    rows = ((0, "root", barred), (1, "op2", barred), (2, "op0", allowed), (None, "op0", empty))
    for row, name, expected in rows:
        _, entries = p.context_menu(row)
        check_equal(entries, expected, f"op2's menu on the row of {name}")
        p.dismiss_menu()
        # The clicked row is the current one, even with the menu dismissed.
        check_equal(text_of(p.fields()["name"]), name, "the name box after the right click")

    s.step("the keyboard opens the same menu at the selected row")
    for row, name, expected in rows:
        for key in ("shift+F10", "Menu"):
            menu, entries = p.keyboard_menu(row, key)
            check_equal(entries, expected, f"op2's menu by {key} on the row of {name}")
            if row is not None:
                cell = p.cell(row, 0).queryComponent().getExtents(s.atspi.DESKTOP_COORDS)
                at = menu.queryComponent().getExtents(s.atspi.DESKTOP_COORDS)
                check(cell.y <= at.y <= cell.y + cell.height + 2 and cell.x <= at.x < cell.x + cell.width,
                      f"the menu at {at.x},{at.y} is not at the row of {name} ({cell.x},{cell.y})")
            p.dismiss_menu()
    p.keyboard_menu(2, "shift+F10")
    p.choose(p.popup(), EDIT)
    wait_until("op0 in the form for editing", lambda: has_state(p.fields()["name"], "focused"), timeout=5)
    check_equal(text_of(p.fields()["name"]), "op0", "the name box after Edit by the keyboard")
    p.cancel()

    s.step("op2 may not create its own level nor grant an item it lacks")
    p.command(None, NEW)
    f = p.fields()
    p.fill(f["name"], "op2b")
    p.choose_level("Level_2")
    p.save()
    p.expect_message(WARNING, "权限不够..不能创建此级别用户..")
    p.choose_level("Level_1")
    p.tick(SYS_ITEM)
    p.save()
    p.expect_message(WARNING, T("当前用户无权限设置此项:  %s ") % SYS_ITEM)
    p.cancel()

    s.step("another process adds a user; Refresh shows it")
    check_equal(len(s.users()), 3, "the refusals left the store alone")
    check_equal(s.store_call("root", ROOT_PW, "add_user", "op3", "Op3-pw", 1, 0), 0, "adding op3")
    p.command(None, REFRESH)
    wait_rows(s, p, "after Refresh", ["root", "op2", "op0", "op3"])

    s.step("saves that meet a store changed meanwhile fail cleanly")
    p.command(None, NEW)
    f = p.fields()
    p.fill(f["name"], "op4")
    p.fill(f["password"], "Op4-pw")
    check_equal(s.store_call("root", ROOT_PW, "add_user", "op4", "Other-pw", 1, 0), 0, "op4 taken meanwhile")
    p.save()
    p.expect_message(ERROR, "增加用户失败..")
    p.cancel()
    p.command(3, EDIT)
    check_equal(s.store_call("root", ROOT_PW, "del_user", "op3"), 0, "op3 deleted meanwhile")
    p.fill(p.fields()["name"], "op3x")
    p.save()
    p.expect_message(ERROR, "修改用户失败..")
    p.cancel()
    p.command(3, DELETE)
    p.expect_message(NOTICE, T("确认删除此用户吗？用户名：%s") % "op3", answer=YES)
    p.expect_message(ERROR, "删除用户失败..")
    check_equal([r[1] for r in p.rows()], ["root", "op2", "op0", "op3"], "the list after the failed deletion")
    s.key("F5")
    wait_rows(s, p, "after F5", ["root", "op2", "op0", "op4"])

    s.step("the longest name, in Chinese characters, typed, saved and listed")
    name = "操作员" * 5 + "A"  # 31 bytes of CP936, what the store holds
    p.command(None, NEW)
    p.fill(p.fields()["name"], name)
    p.save()
    rows = wait_rows(s, p, "after saving the longest name", ["root", "op2", "op0", "op4", name])
    check_equal(rows[-1], ("05", name, "Level_1", "0"), "the new row")
    check_equal(
        [a[1:] for a in s.audit() if a[0] == "op2" and a[1] != "login"],
        [
            ("user_add", "op4", "name_taken"),
            ("user_change", "op3", "no_such_user"),
            ("user_delete", "op3", "no_such_user"),
            ("user_add", name, "ok"),
        ],
        "op2's attempts in the audit trail",
    )
    close(s, p)

    s.step("qorvel is offered every entry on root's row, yet cannot change or delete root")
    check_equal(s.store_call("root", ROOT_PW, "add_user", "qorvel", "Qv-pw", 2, 0), 0, "adding qorvel")
    p = log_in(s, "qorvel", "Qv-pw", "Level_2")
    _, entries = p.context_menu(0)
    check_equal(entries, allowed, "qorvel's menu on root's row")
    p.dismiss_menu()
    p.command(0, DELETE)
    p.expect_message(WARNING, "权限不够..不能删除此级别用户..")
    p.command(0, EDIT)
    s.key("Return")
    p.expect_message(WARNING, "权限不够..不能创建此级别用户..")
    p.cancel()
    check_equal(s.users()[0], ("root", "Level_4", "0xffffffff", "1"), "root after qorvel's attempts")
    close(s, p)

    s.step("op0 gets no menu")
    p = log_in(s, "op0", "Op0-pw", "Level_0")
    for row in (0, 2, None):
        p.right_click(row)
        p.no_popup(settle=1.0)
    close(s, p)


ITEMS_TITLE = "权限项列表"
ITEMS_BUTTON = "权限项设置"
DELETE_LAST = "删除最后一个权限项"
INFORMATION = "Information"


def editor_rows(w):
    """The item editor's cells as rows of number, name and title."""
    cells = [c.name for c in find_all(w, "table cell")]
    check(len(cells) % 3 == 0, f"the item list has {len(cells)} cells, not rows of three")
    return [tuple(cells[i : i + 3]) for i in range(0, len(cells), 3)]


def edit_cell(s, w, row, column, text):
    """Double-clicks a cell of the item editor, types text and ends with Enter."""
    x, y = s.on_screen(*center(find_all(w, "table cell")[row * 3 + column]))
    # The edit box is no accessible of its own (a table shows cells only),
    # but the keys queue behind the double click that opens it.
    s.xdotool("mousemove", x, y, "click", "--repeat", 2, "--delay", 80, 1)
    s.type(text)
    s.key("Return")


def store_items(s):
    """keyward items, as (name, title) rows."""
    return [tuple(line.split()[1:3]) for line in s.keyward("items").splitlines()[1:]]


def item_boxes(p):
    """The shown permission check boxes' titles."""
    boxes = collect(p.main(), ("check box",))["check box"]
    return [b.name for b in boxes if b.name != T("选择所有") and has_state(b, "showing")]


def close_editor(s, p):
    s.xdotool("windowactivate", "--sync", s.xdotool("search", "--name", f"^{T(ITEMS_TITLE)}$").split()[0])
    s.key("alt+F4")
    p.no_window(ITEMS_TITLE)


def scenario_items(s):
    """root adds an item through the editor's entry row, sees its check box,
    deletes it again; an operator without sys_limit is refused the editor."""
    s.init_store("root", ROOT_PW)
    check_equal(s.store_call("root", ROOT_PW, "add_user", "op", "Op-pw", 2, 0), 0, "adding op")
    p = log_in(s, "root", ROOT_PW, "Level_4")
    check_equal(item_boxes(p), [SYS_ITEM], "the check boxes at the start")
    sys_row = ("1", "sys_limit", SYS_ITEM)

    s.step("the editor lists sys_limit and the entry row")
    p.press(p.main(), ITEMS_BUTTON)
    w = p.window(ITEMS_TITLE)
    check_equal(editor_rows(w), [sys_row, ("*", "", "")], "the editor's rows")

    s.step("a name alone stores nothing; the title then adds the item")
    edit_cell(s, w, 1, 1, "motion")
    wait_until("motion in the entry row", lambda: editor_rows(w)[1] == ("*", "motion", ""), timeout=5)
    check_equal(store_items(s), [("sys_limit", SYS_ITEM)], "the store after the name")
    edit_cell(s, w, 1, 2, "运动控制")
    added = [sys_row, ("2", "motion", "运动控制"), ("*", "", "")]
    wait_until("the new item's row and a new entry row", lambda: editor_rows(w) == added, timeout=5)
    check_equal(store_items(s), [("sys_limit", SYS_ITEM), ("motion", "运动控制")], "the store after the title")
    s.screenshot("item-added")

    s.step("refusals: a listed title, 32 letters")
    edit_cell(s, w, 2, 2, "运动控制")
    p.expect_message(INFORMATION, "不能重复，请检查..")
    edit_cell(s, w, 2, 1, "a" * 32)
    p.expect_message(INFORMATION, "最大长度32，请检查..")
    check_equal(editor_rows(w), added, "the rows after the refusals")

    s.step("Enter and Escape keep the editor open; its close box ends it")
    s.key("Return")
    s.key("Escape")
    p.no_message_box()
    p.window(ITEMS_TITLE, timeout=1)
    close_editor(s, p)
    wait_until("the new check box", lambda: item_boxes(p) == [SYS_ITEM, "运动控制"], timeout=5)

    s.step("deleting the last item, then refused for sys_limit")
    p.press(p.main(), ITEMS_BUTTON)
    w = p.window(ITEMS_TITLE)
    s.click(find_all(w, "table cell")[4], button=3)
    menu = p.popup()
    check_equal(p.menu_entries(menu), offered({DELETE_LAST: True}), "the editor's menu")
    p.choose(menu, DELETE_LAST)
    p.expect_message(NOTICE, T("您确认要删除权限项:%s-%s吗?") % ("motion", "运动控制"), answer=YES)
    wait_until("the item's row to go", lambda: editor_rows(w) == [sys_row, ("*", "", "")], timeout=5)
    s.click(find_all(w, "table cell")[1], button=3)
    p.choose(p.popup(), DELETE_LAST)
    p.expect_message(ERROR, "您不能删除此权限项.")
    close_editor(s, p)
    wait_until("the check box to go", lambda: item_boxes(p) == [SYS_ITEM], timeout=5)
    check_equal(store_items(s), [("sys_limit", SYS_ITEM)], "the store after the deletion")
    check_equal(
        [a for a in s.audit() if a[2] == "motion"],
        [("root", "item_add", "motion", "ok"), ("root", "item_delete", "motion", "ok")],
        "the item in the audit trail",
    )
    close(s, p)

    s.step("op, without sys_limit, is refused the editor")
    p = log_in(s, "op", "Op-pw", "Level_2")
    p.press(p.main(), ITEMS_BUTTON)
    p.expect_message(NOTICE, "权限不够，不能设置权限项.")
    p.no_window(ITEMS_TITLE, timeout=1)
    close(s, p)


# What a screen reader announces: each must have a name.
CONTROLS = ("label", "text", "password text", "push button", "check box", "combo box", "tree", "table", "image")
ABOUT_TITLE = "关于 rolvane"


def check_readable(window, role, title):
    """The window has this role and title, and every control shown in it a
    name and a role of its own (no nameless "filler" painted by hand)."""
    check_equal((window.getRoleName(), window.name), (role, T(title)), "the window's role and name")
    shown = [a for a in walk(window) if a is not window and has_state(a, "showing")]
    unnamed = [describe(a) for a in shown if a.getRoleName() in CONTROLS and not a.name.strip()]
    check(not unnamed, f"{title}: controls without a name: {unnamed}")
    odd = [describe(a) for a in shown if a.getRoleName() in ("filler", "unknown")]
    check(not odd, f"{title}: controls without a role: {odd}")


def scenario_screen_reader(s):
    """The login window, a message box, the main window, its system menu and
    the about box, as a screen reader reads them."""
    s.init_store("root", ROOT_PW)
    p = s.start()
    w = p.window(LOGIN_TITLE, timeout=20)
    s.screenshot("login")
    check_readable(w, "dialog", LOGIN_TITLE)
    fields = p.login_fields()
    check_equal((fields["account"].name, fields["password"].name), (T("账号："), T("密码：")), "the fields' names")
    # Qt's own texts speak the program's language too.
    s.click(fields["account"], button=3)
    menu = wait_until("the field's context menu", lambda: p.s.popups())[0]
    entries = [a.name.split("\t")[0] for a in walk(menu) if a.getRoleName() == "menu item"]
    check(("Paste" if english() else "粘贴(P)") in entries, f"the field's context menu: {entries}")
    s.key("Escape")

    p.login("root", "wrong-pw", expect_ok=False)
    box, caption, text = p.message_box()
    check_readable(box, "alert", FAILED)
    check_equal(text, T("登录密码错误."), "the message box's text")
    check_equal([b.name for b in collect(box, ("push button",))["push button"]], [T(OK)], "its buttons")
    p.press(box, OK)

    p.login("root", ROOT_PW)
    wait_until("the status line", lambda: p.status_line() == status("root", "Level_4"))
    check_readable(p.main(), "dialog", MAIN_TITLE)
    check_equal(p.fields()["name"].name, T("用户名："), "the name box's name")
    # A combo box is named by its value; its label comes as a relation.
    labels = [
        r.getTarget(i).name
        for r in p.fields()["level"].getRelationSet()
        if r.getRelationType() == s.atspi.RELATION_LABELLED_BY
        for i in range(r.getNTargets())
    ]
    check_equal(labels, [T("级别：")], "the level box's label")

    # The about box through the system menu, on the key desktops leave alone.
    s.key("alt+minus")
    menu = wait_until("the system menu", lambda: p.s.popups())[0]
    item = [a for a in walk(menu) if a.getRoleName() == "menu item" and a.name.startswith(T(ABOUT_TITLE))]
    check(len(item) == 1, f"no about entry in {[a.name for a in walk(menu)]}")
    s.click(item[0])
    about = p.window(ABOUT_TITLE)
    s.screenshot("about")
    check_readable(about, "dialog", ABOUT_TITLE)
    s.key("Escape")
    p.no_window(ABOUT_TITLE)
    close(s, p)


def server_processes(data):
    """The postmaster of the cluster in data and its children, postmaster first."""
    with open(os.path.join(data, "postmaster.pid")) as f:
        postmaster = int(f.readline())
    children = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == postmaster:
                children.append(int(entry))
    return [postmaster, *children]


def scenario_server(s):
    """Two stations on one server store (tests/keyward/with_server.sh starts
    it): a user made at one is listed at the other after F5 and logs in
    there; with the server frozen a login says to contact the administrator
    within 8 s and the window answers again; with the server stopped the
    same within 5 s, and once it is back the next attempt works."""
    host = os.environ.get("KEYWARD_TEST_SERVER")
    if not host:
        raise Skipped("no server; run under tests/keyward/with_server.sh")
    s.run(["psql", "-q", f"postgresql://postgres@/postgres?host={host}", "-c", "CREATE DATABASE varnock_e2e"])
    uri = f"postgresql://postgres@/varnock_e2e?host={host}"
    s.keyward("init", "--store", uri, "--admin", "root", "--password-stdin", input_text=ROOT_PW + "\n")
    # Both stations find the store through their configuration.
    del s.env["KEYWARD_DB"]
    os.makedirs(os.path.join(s.env["XDG_CONFIG_HOME"], "varnock"))
    with open(os.path.join(s.env["XDG_CONFIG_HOME"], "varnock", "varnock.conf"), "w") as f:
        f.write(f"[store]\nlocation = {uri}\n")
    # The second station: its own runtime folder, so not the first one's instance.
    other = dict(s.env, XDG_RUNTIME_DIR=os.path.join(s.work, "run2"))
    os.mkdir(other["XDG_RUNTIME_DIR"], 0o700)

    def station(env, user, password, level):
        p = s.start(env)
        p.login(user, password)
        wait_until("the status line", lambda: p.status_line() == status(user, level))
        return p

    def activate(p):
        window = s.xdotool("search", "--all", "--pid", p.proc.pid, "--name", f"^{T(MAIN_TITLE)}$").split()[0]
        s.xdotool("windowactivate", "--sync", window)

    def shut(p):
        activate(p)
        s.key("alt+F4")
        check_equal(p.wait_exit(10), 0, "exit status after closing the main window")

    s.step("two stations as root; op1 made at the first")
    p1 = station(None, "root", ROOT_PW, "Level_4")
    p2 = station(other, "root", ROOT_PW, "Level_4")
    activate(p1)
    p1.command(None, NEW)
    f = p1.fields()
    p1.fill(f["name"], "op1")
    p1.fill(f["password"], "Op1-pw")
    p1.choose_level("Level_2")
    p1.save()
    wait_until("op1 at the first station", lambda: [r[1] for r in p1.rows()] == ["root", "op1"], timeout=5)

    s.step("F5 at the second station lists op1; op1 logs in there")
    activate(p2)
    s.key("F5")
    wait_until("op1 at the second station", lambda: [r[1] for r in p2.rows()] == ["root", "op1"], timeout=5)
    shut(p2)
    p2 = station(other, "op1", "Op1-pw", "Level_2")
    shut(p2)

    s.step("the server freezes: a login says to contact the administrator within 8 s")
    data = os.environ["KEYWARD_TEST_SERVER_DATA"]
    p2 = s.start(other)
    p2.window(LOGIN_TITLE, timeout=20)  # its list read: connected
    frozen_at = time.monotonic()
    server = server_processes(data)
    for pid in server:
        os.kill(pid, signal.SIGSTOP)
    try:
        p2.login("op1", "Op1-pw", expect_ok=False)
        p2.expect_message(FAILED, "未知错误，请联系管理员.", timeout=8)
        s.screenshot("frozen-server")
        # The window answers again: its account field takes typing (fill waits for it).
        p2.fill(p2.login_fields()["account"], "op1")
    finally:
        time.sleep(max(0.0, frozen_at + 20 - time.monotonic()))
        for pid in server:
            os.kill(pid, signal.SIGCONT)
    s.step("the server thaws: the next attempt works")
    p2.login("op1", "Op1-pw")
    wait_until("the status line", lambda: p2.status_line() == status("op1", "Level_2"))
    shut(p2)

    s.step("the server stops: a login says to contact the administrator")
    pg_ctl = [os.path.join(os.environ["KEYWARD_TEST_PG_BINDIR"], "pg_ctl"), "-D", data, "-w", "-s", "-m", "fast"]
    as_owner = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
    p2 = s.start(other)
    p2.window(LOGIN_TITLE, timeout=20)
    s.run([*as_owner, *pg_ctl, "stop"])
    p2.login("op1", "Op1-pw", expect_ok=False)
    p2.expect_message(FAILED, "未知错误，请联系管理员.", timeout=5)

    s.step("the server is back: the next attempt works")
    s.run([*as_owner, *pg_ctl, "-l", os.path.join(data, "..", "server.log"), "start"])
    p2.login("op1", "Op1-pw")
    wait_until("the status line", lambda: p2.status_line() == status("op1", "Level_2"))
    shut(p2)
    shut(p1)


FIRST_START = (
    "账户库中还没有用户。请在终端运行下面的命令创建第一个管理员"
    "（NAME 换成管理员的用户名，命令会要求输入两次密码）：\n\nkeyward init --admin NAME"
)


def scenario_first_start(s):
    """An empty store: before the login window one box says how to create
    the first administrator, the terminal and the system log say it too;
    once keyward init made one, that administrator logs in and a later start
    says nothing of the kind."""
    log = s.system_log()
    s.step("start on an empty store")
    p = s.start()
    p.expect_message(NOTICE, FIRST_START, timeout=20)
    p.window(LOGIN_TITLE)
    command = "keyward init --admin NAME"
    check(command in s.log(p.log_name), f"the terminal does not say {command!r}: {s.log(p.log_name)!r}")
    check(any(command in line for line in log()), f"the system log does not say {command!r}")

    s.step("keyward init, then the administrator logs in")
    s.init_store("root", ROOT_PW)
    p.login("root", ROOT_PW)
    wait_until("the status line", lambda: p.status_line() == status("root", "Level_4"))
    close(s, p)
    p = s.start()
    p.window(LOGIN_TITLE, timeout=20)
    p.no_message_box(settle=1.0)
    p.press(p.window(LOGIN_TITLE), "退出")
    check_equal(p.wait_exit(10), 0, "exit status after Exit in the login window")


SCENARIOS = {
    "first_start": scenario_first_start,
    "screen_reader": scenario_screen_reader,
    "login": scenario_login,
    "manage": scenario_manage,
    "rights": scenario_rights,
    "items": scenario_items,
    "server": scenario_server,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
