#!/usr/bin/env python3
"""The console as a program: piped runs compared with their exact output, and
runs on a pseudo-terminal driven by keys (tests/console/pty_runs.py).

Usage: run.py path/to/zan
"""
import os
import subprocess
import sys
import tempfile

ZAN = os.path.abspath(sys.argv[1])
failures = 0
passed = 0


def run(stdin, args=(), env=None, cwd=None):
    e = dict(os.environ)
    e.pop("COLUMNS", None)
    e.pop("LINES", None)
    e["HOME"] = HOME
    e.update(env or {})
    p = subprocess.run([ZAN, *args], input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=e, cwd=cwd, timeout=60)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def check(title, got, expected):
    global failures, passed
    if got == expected:
        passed += 1
    else:
        failures += 1
        print(f"FAIL {title}\n  expected {expected!r}\n  got      {got!r}")


HOME = tempfile.mkdtemp(prefix="zan-console-home-")
X35 = "x" * 35
X36 = "x" * 36

# (title, input bytes, environment, exact standard output)
PIPED = [
    ("a result after its marker", b"1 + 2\n", {}, "== 3\n"),
    ("no banner, no prompt, no echo; print has no result line", b'print "hi"\n', {}, "hi\n"),
    ("an open block continues on the next line", b"[\n1 2]\n", {}, "== [\n    1 2\n]\n"),
    ("an empty line is ignored", b"\n\n1\n", {}, "== 1\n"),
    ("a float is formed, a string molded", b'1.0\n"abc"\n', {}, '== 1.0\n== "abc"\n'),
    ("halt", b"halt\n", {}, "(halted)\n"),
    ("escape drops the open command", b"[1\n\x1b\n2\n", {}, "(escape)\n== 2\n"),
    ("40 columns: 35 x's whole", f'"{X35}"\n'.encode(), {"COLUMNS": "40"}, f'== "{X35}"\n'),
    ("40 columns: 36 x's cut", f'"{X36}"\n'.encode(), {"COLUMNS": "40"}, '== "' + "x" * 32 + '...\n'),
    ("a function prompt is measured by its text",
     f'system/console/prompt: does ["$ "]\n"{X36}"\n'.encode(), {"COLUMNS": "40"},
     '== func [] ["$ "]\n== "' + "x" * 35 + '...\n'),
    ("a result marker from a function", b'system/console/result: does ["=>"]\n7\n', {},
     '=> func [] ["=>"]\n=> 7\n'),
    ("CR LF ends a line; a last line without LF counts", b"1\r\n2", {}, "== 1\n== 2\n"),
    ("bad UTF-8 bytes become U+FFFD", b'length? "a\xffb"\n', {}, "== 3\n"),
    ("ask prints its question and reads the next line", b'a: ask "Name? "\nBob\nprint a\n', {},
     'Name? == "Bob"\nBob\n'),
    ("ask at the end of input gives none", b'a: ask "? "\n', {}, "? == none\n"),
    ("quit ends the loop", b"q\n1\n", {}, ""),
    ("a title for a pipe is ignored and the loop goes on", b'system/console/init "T"\n1\n', {}, "== 1\n"),
]

for title, data, env, expected in PIPED:
    rc, out, err = run(data, env=env)
    check(title, out, expected)
    check(title + " (status)", rc, 0)

# Errors: their form, then an empty line.
rc, out, _ = run(b"1 / 0\n2\n")
head = "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n*** Stack: "
check("an error prints its form (ending with the calls) and an empty line",
      (out.startswith(head), out.endswith("\n\n== 2\n"), out.count("\n")), (True, True, 6))
rc, out, _ = run(b"]\n")
check("a closing bracket alone fails at once", out.startswith("*** Syntax Error"), True)
rc, out, _ = run(b'"abc\n')
check("an open string on one line fails at once", out.startswith("*** Syntax Error"), True)
rc, out, _ = run(b"[1 2\n")
check("an open command at the end of input shows its error",
      (out.startswith("*** Syntax Error"), rc), (True, 0))
rc, out, _ = run(b"system/console/prompt: does [1 / 0]\n1\n")
check("a failing prompt is not evaluated when piped", out, "== func [] [1 / 0]\n== 1\n")

# Scripts.
with tempfile.TemporaryDirectory() as d:
    good = os.path.join(d, "good.zan")
    with open(good, "w") as f:
        f.write('Zan [title: "t"]\nprint "in script"\n')
    args = os.path.join(d, "args.zan")
    with open(args, "w") as f:
        f.write('Zan []\nprint mold system/options/args\n')
    bad = os.path.join(d, "bad.zan")
    with open(bad, "w") as f:
        f.write("print 1\n")
    rc, out, _ = run(b"print 5\n", ["--catch", good])
    check("--catch keeps the console after the script", (out, rc), ("in script\n5\n", 0))
    rc, out, _ = run(b"", ["--catch", args, "one", "two"])
    check("the script keeps its own arguments", out, '["one" "two"]\n')
    rc, out, _ = run(b"", [good])
    check("a script without --catch ends", (out, rc), ("in script\n", 0))
    rc, out, _ = run(b"2\n", ["--catch", bad])
    check("no header", out, "*** Error: Zan header not found!\n== 2\n")
    rc, out, _ = run(b"", ["--catch", os.path.join(d, "missing.zan")])
    check("a missing script prints the read error", out.startswith("*** Access Error"), True)
    rc, out, _ = run(b"pwd\n", ["--catch", good], cwd="/")
    check("the script's directory becomes the current one", out.splitlines()[-1], "%" + d + "/")

# Commands.
with tempfile.TemporaryDirectory() as d:
    for name in ["a.txt", "b.txt", "c" * 25 + ".txt"]:
        open(os.path.join(d, name), "w").close()
    os.mkdir(os.path.join(d, "sub"))
    rc, out, _ = run(b"ls\n", env={"COLUMNS": "57"}, cwd=d)
    rows = out.split("\n")
    check("ls: two a row, tab + 20 + blank, long names cut",
          rows, ["\t" + "a.txt".ljust(20) + " \t" + "b.txt".ljust(20) + " ",
                 "\t" + "c" * 16 + "...".ljust(4) + " \t" + "sub/".ljust(20) + " ", ""])
    rc, out, _ = run(b"ll\n", env={"COLUMNS": "57"}, cwd=d)
    check("ll: one a line, padded to 43", out.split("\n")[0], "\ta.txt".ljust(44) + " ")
    rc, out, _ = run(b"dir\n", env={"COLUMNS": "57"}, cwd=d)
    check("dir is ls", out, run(b"ls\n", env={"COLUMNS": "57"}, cwd=d)[1])
    rc, out, _ = run(b"ls 42\n", cwd=d)
    check("ls 42", out.startswith("*** Script Error"), True)
    rc, out, _ = run(b"cd sub\npwd\n", cwd=d)
    check("cd and pwd", out.split("\n")[1], "%" + d + "/sub/")


# --- pseudo-terminal runs --------------------------------------------------------
import fcntl
import pty
import select
import signal
import struct
import termios
import time


class Session:
    """zan on a pseudo-terminal: keys in, everything it wrote out."""

    def __init__(self, env=None, rows=24, cols=80, args=()):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        e = dict(os.environ)
        e.pop("COLUMNS", None)
        e.pop("LINES", None)
        e["HOME"] = HOME
        # a usable display would open the console window instead
        e.pop("DISPLAY", None)
        e.pop("WAYLAND_DISPLAY", None)
        e.setdefault("TERM", "xterm")
        e.update(env or {})

        def own_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.p = subprocess.Popen([ZAN, *args], stdin=slave, stdout=slave, stderr=slave, env=e,
                                  preexec_fn=own_terminal, close_fds=True)
        os.close(slave)
        self.out = b""

    def read(self, timeout=0.2):
        end = time.time() + timeout
        while time.time() < end:
            r, _, _ = select.select([self.master], [], [], 0.05)
            if r:
                try:
                    data = os.read(self.master, 65536)
                except OSError:
                    return
                if not data:
                    return
                self.out += data

    def expect(self, text, timeout=10):
        end = time.time() + timeout
        mark = len(self.out)
        while time.time() < end:
            if text.encode() in self.out[mark - 200 if mark > 200 else 0:]:
                return True
            self.read(0.1)
        return False

    def keys(self, data, pause=0.1):
        os.write(self.master, data if isinstance(data, bytes) else data.encode())
        self.read(pause)

    def close(self):
        try:
            self.p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
        self.read(0.1)
        os.close(self.master)
        return self.p.returncode


def session_check(title, ok):
    check(title, ok, True)


s = Session()
session_check("the banner shows", s.expect("Type HELP for starting information."))
session_check("the prompt shows", s.expect(">> "))
session_check("the terminal's title is set", b"\x1b]0;Zan Console\x07" in s.out)
s.keys('system/console/init "a^/b"\r')
session_check("a title's control characters become blanks", s.expect("\x1b]0;a b\x07"))
s.keys("1 + 2\r")
session_check("a line is evaluated", s.expect("== 3"))
s.keys("12\x1b[D3\r")
session_check("left arrow moves the caret", s.expect("== 132"))
s.keys("123\x7f\r")
session_check("byte 127 is Backspace", s.expect("== 12\r"))
s.keys('"ab cd\x08"\r')
session_check("Ctrl+H deletes a word", s.expect('== "ab "'))
s.keys("7\r")
s.expect("== 7")
s.keys("\x1b[A\r")
session_check("Up fetches the last line", s.expect("== 7"))
s.keys("[1\r")
s.keys("\x1b", pause=0.3)
session_check("a lone Escape cancels the open command", s.expect("(escape)"))
s.keys("xyz\x03")
session_check("Ctrl+C at the prompt acts as Escape", s.expect("(escape)"))
s.keys("\x1b[200~1 + 1\n2 + 2\n\x1b[201~")
session_check("a bracketed paste runs its complete lines", s.expect("== 2"))
s.keys("\r")
session_check("the last pasted line waits for Enter", s.expect("== 4"))
s.keys("append/on\t")
session_check("Tab completes a refinement", s.expect("append/only"))
s.keys("\x15\x0b\r")
s.keys('a: ask/hide "pw? "\r')
s.expect("pw? ")
s.keys("secret\r")
session_check("a hidden prompt shows stars", s.expect("******"))
s.keys("system/console/size\r")
session_check("the terminal's size", s.expect("== 80x24"))
fcntl.ioctl(s.master, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
s.read(0.3)
s.keys("system/console/size\r")
session_check("the size follows a resize", s.expect("== 100x30"))
s.keys("\x04")
check("Ctrl+D on an empty line ends the console", s.close(), 0)
cfg = os.path.join(HOME, ".zan", "Zan-Console", "console-cfg.zan")
saved = open(cfg).read() if os.path.exists(cfg) else ""
check("history is saved", ("system/console/size" in saved, "secret" in saved), (True, False))

s = Session()
s.expect(">> ")
s.keys("\x1b[A\r")
session_check("history comes back at the next start", s.expect("== 100x30") or s.expect("== 80x24"))
s.keys("q\r")
check("q ends the console", s.close(), 0)

s = Session(env={"TERM": "dumb"})
session_check("TERM=dumb: banner", s.expect("Type HELP"))
s.keys("1 + 2\n")
session_check("TERM=dumb: the terminal reads the line", s.expect("== 3"))
check("TERM=dumb: no line editor escapes", b"\x1b[?2004h" in s.out, False)
s.keys("\x04")
check("TERM=dumb: end of input", s.close(), 0)

print(f"console-runs: {passed} passed, {failures} failed")
sys.exit(1 if failures else 0)
