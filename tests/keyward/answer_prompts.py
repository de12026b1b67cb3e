#!/usr/bin/python3
"""Runs a command on a terminal of its own and types the given passwords, in
order, at each password prompt it shows, as a person would: the commands of
the README that ask on the terminal run here as written.

usage: answer_prompts.py PASSWORD... -- COMMAND [ARGUMENT...]
Exits with the command's status; fails when a prompt finds no password left
or a password is left over.
"""
import os
import pty
import re
import sys

# createuser's "Enter password for new role: ", "Enter it again: ";
# keyward's "New password: ", "Again: ".
PROMPT = re.compile(rb"(password[^\n]*|again): $", re.IGNORECASE)


def main():
    split = sys.argv.index("--")
    answers = sys.argv[1:split]
    command = sys.argv[split + 1:]
    pid, terminal = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    seen = b""
    while True:
        try:
            chunk = os.read(terminal, 4096)
        except OSError:  # the command has gone and its terminal with it
            break
        if not chunk:
            break
        sys.stdout.buffer.write(chunk)
        sys.stdout.flush()
        seen = (seen + chunk)[-200:]
        if PROMPT.search(seen):
            if not answers:
                print("answer_prompts: a prompt and no password left", file=sys.stderr)
                os.kill(pid, 9)
                break
            os.write(terminal, answers.pop(0).encode() + b"\n")
            seen = b""
    _, status = os.waitpid(pid, 0)
    if answers:
        print(f"answer_prompts: {len(answers)} password(s) never asked for", file=sys.stderr)
        return 1
    return os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())
