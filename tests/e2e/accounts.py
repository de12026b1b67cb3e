"""End-to-end scenarios: an operator at the real window, on a real store.

usage: dbus-run-session -- /usr/bin/python3 accounts.py --rolvane R
       --keyward K --libkeyward L SCENARIO
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import (  # noqa: E402
    LOGIN_TITLE,
    MAIN_TITLE,
    check,
    check_equal,
    find_all,
    main,
    wait_until,
)

ROOT_PW = "Root-pw1"
FAILED = "登录失败"


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
    return f"当前用户：{user}   级别：{level}"


def scenario_login(s):
    """Start, the login's refusals, a successful login, closing, a second start."""
    s.init_store("root", ROOT_PW)
    s.step("start")
    p = s.start()
    p.window(LOGIN_TITLE, timeout=20)
    s.screenshot("login")
    # The list is read before anyone logs in.
    check_equal(p.rows(), listed_rows(s), "the list behind the login window")
    check_equal(p.rows()[0][:3], ("01", "root", "Level_4"), "root's row")

    refusals = [
        ("", "x", "用户名不能为空."),
        ("root", "", "密码不能为空."),
        ("nobody", ROOT_PW, "用户名错误."),
        ("root", "wrong-pw", "登录密码错误."),
    ]
    for user, password, text in refusals:
        s.step(f"login refused: {text}")
        p.login(user, password, expect_ok=False)
        p.expect_message(FAILED, text)
        p.window(LOGIN_TITLE)
    check_equal(p.status_line(), "当前用户：", "the status line before a login")

    s.step("login as root")
    p.login("root", ROOT_PW)
    wait_until("the status line", lambda: p.status_line() == status("root", "Level_4"))
    s.screenshot("logged-in")
    check_equal(p.rows(), listed_rows(s), "the list after the login")

    outcomes = [(act, t, o) for (_, act, t, o) in s.audit() if act == "login"]
    check_equal(
        outcomes,
        [("login", "nobody", "no_such_user"), ("login", "root", "bad_password"), ("login", "root", "ok")],
        "the login attempts in the audit trail",
    )

    s.step("close and start again")
    # The close box (through the window manager) ends the program.
    s.xdotool("windowactivate", "--sync", s.xdotool("search", "--name", f"^{MAIN_TITLE}$").split()[0])
    s.key("alt+F4")
    check_equal(p.wait_exit(10), 0, "exit status after closing the main window")

    # A second start shows the login again; its Exit button ends the program.
    p2 = s.start()
    w = p2.window(LOGIN_TITLE, timeout=20)
    p2.press(w, "退出")
    check_equal(p2.wait_exit(10), 0, "exit status after Exit in the login window")
    check_equal(len([a for a in s.audit() if a[1] == "login"]), 3, "login attempts after the second start")


SCENARIOS = {
    "login": scenario_login,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
