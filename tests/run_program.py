#!/usr/bin/env python3
"""Runs one BASIC test program under wine and checks it against the expectations
written in its own comment lines.

    run_program.py [--bin-dir DIR] [--work-dir DIR] PROGRAM.kbs

Expectation lines (comments start with ';'):

    ; expect-stdout:            exact stdout, one "; | TEXT" line per output line
    ; | first line              ("; |" alone is an empty line)
    ; expect-stdout-contains: TEXT   stdout must contain TEXT (may repeat)
    ; expect-error: CODE line N exit code CODE, stderr contains "Line number: N"
    ; expect-error: CODE        exit code CODE only
    ; stdin:                    what is fed to standard input, as "; | " lines
    ; args: ARGS                extra krun arguments (before the program)
    ; mode: bound               kbind the program into an exe and run that instead
    ; expect-box: TEXT          bound mode: a message box with TEXT ("\\n" = newline)
    ; expect-no-box             bound mode: no message box at all

Without expect-stdout / expect-stdout-contains, stdout must be empty. Without
expect-error the exit code must be 0. Output is compared after CR LF -> LF.
"""
import argparse
import difflib
import os
import re
import shlex
import signal
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUN_SH = os.path.join(HERE, "wine", "run.sh")
TIMEOUT = 20.0


class Spec:
    def __init__(self):
        self.stdout = None          # list of lines or None
        self.contains = []
        self.error_code = None
        self.error_line = None
        self.stdin = None           # list of lines or None
        self.args = []
        self.bound = False
        self.boxes = []
        self.no_box = False


def parse(path):
    spec = Spec()
    block = None                    # "stdout" | "stdin" | None
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    for lineno, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip("\r")
        if not line.startswith(";"):
            block = None
            continue
        if block and (line == "; |" or line.startswith("; | ")):
            getattr(spec, block).append(line[4:])
            continue
        block = None
        body = line[1:].strip()
        key, sep, value = body.partition(":")
        key = key.strip().lower()
        value = value.strip()
        if not sep:
            if key == "expect-no-box":
                spec.no_box = True
            continue
        if key == "expect-stdout":
            spec.stdout = spec.stdout or []
            block = "stdout"
        elif key == "stdin":
            spec.stdin = spec.stdin or []
            block = "stdin"
        elif key == "expect-stdout-contains":
            spec.contains.append(value)
        elif key == "expect-error":
            m = re.fullmatch(r"(-?\d+)(?:\s+line\s+(\d+))?", value, re.I)
            if not m:
                sys.exit(f"{path}:{lineno}: bad expect-error line: {line}")
            spec.error_code = int(m.group(1))
            spec.error_line = m.group(2)
        elif key == "args":
            spec.args = shlex.split(value)
        elif key == "mode":
            if value.lower() != "bound":
                sys.exit(f"{path}:{lineno}: unknown mode: {value}")
            spec.bound = True
        elif key == "expect-box":
            spec.boxes.append(value.replace("\\n", "\n"))
    return spec


def winpath(path):
    """Unix path -> Windows path through wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def normalise(data):
    return data.decode("latin-1").replace("\r\n", "\n")


def run(cmd, stdin_bytes, env, timeout, work, on_tick=None):
    """Runs cmd with stdout/stderr in files (so that lingering wine processes holding
    the descriptors cannot block us). Returns (code, stdout, stderr, timed_out)."""
    out_path = os.path.join(work, "stdout")
    err_path = os.path.join(work, "stderr")
    in_path = os.path.join(work, "stdin")
    with open(in_path, "wb") as f:
        f.write(stdin_bytes)
    with open(in_path, "rb") as fin, open(out_path, "wb") as fout, \
            open(err_path, "wb") as ferr:
        proc = subprocess.Popen(cmd, stdin=fin, stdout=fout, stderr=ferr, env=env,
                                cwd=work, start_new_session=True)
        deadline = time.monotonic() + timeout
        timed_out = False
        while True:
            try:
                proc.wait(timeout=0.2)
                break
            except subprocess.TimeoutExpired:
                pass
            if on_tick:
                on_tick(err_path)
            if time.monotonic() > deadline:
                timed_out = True
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait()
                break
    with open(out_path, "rb") as f:
        out = f.read()
    with open(err_path, "rb") as f:
        err = f.read()
    return proc.returncode, out, err, timed_out


def show(title, text):
    print(f"--- {title} ---")
    print(text if text.endswith("\n") or not text else text + "\n", end="")


def check_output(spec, code, out, err, failures):
    if spec.stdout is not None:
        expected = "".join(l + "\n" for l in spec.stdout)
        if out != expected and out + "\n" != expected:  # a last line without newline is fine
            diff = difflib.unified_diff(expected.splitlines(True), out.splitlines(True),
                                        "expected stdout", "actual stdout")
            failures.append("stdout differs:\n" + "".join(diff))
    elif not spec.contains and out:
        failures.append("stdout should be empty")
    for c in spec.contains:
        if c not in out:
            failures.append(f"stdout does not contain {c!r}")


# Wine's trace+msgbox channel prints e.g.
#   trace:msgbox:MSGBOX_OnInit L"text"
# The text is a C-style escaped string; wine cuts long ones short and appends "...".
BOX_RE = re.compile(r'trace:msgbox:\w+\s+L?"((?:[^"\\]|\\.)*)"(\.\.\.)?')


def unescape(s):
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "0": "\0"}
            if n == "x" and re.match(r"[0-9a-fA-F]{2}", s[i + 2:i + 4]):
                out.append(chr(int(s[i + 2:i + 4], 16))); i += 4; continue
            if n == "u" and re.match(r"[0-9a-fA-F]{4}", s[i + 2:i + 6]):
                out.append(chr(int(s[i + 2:i + 6], 16))); i += 6; continue
            out.append(simple.get(n, n)); i += 2; continue
        out.append(c); i += 1
    return "".join(out).replace("\r\n", "\n")


def boxes_in(err_text):
    """[(text, cut_short)] of the message boxes traced in err_text."""
    return [(unescape(m.group(1)), bool(m.group(2))) for m in BOX_RE.finditer(err_text)]


def box_matches(expected, shown):
    return any(t == expected or (cut and expected.startswith(t)) for t, cut in shown)


def check_run(spec, code, out_t, err_t, timed_out, timeout, failures):
    if timed_out:
        failures.append(f"timed out after {timeout:g} s")
        return
    want = spec.error_code if spec.error_code is not None else 0
    if code != want:
        failures.append(f"exit code {code}, expected {want}")
    if spec.error_line is not None:
        if f"Line number: {spec.error_line}" not in err_t:
            failures.append(f"stderr lacks 'Line number: {spec.error_line}'")
    check_output(spec, code, out_t, err_t, failures)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", default=".")
    ap.add_argument("--work-dir", default=None)
    ap.add_argument("--timeout", type=float, default=TIMEOUT)
    ap.add_argument("--results", default=None,
                    help="compare the run recorded in this directory instead of running")
    ap.add_argument("--emit", default=None,
                    help="write PREFIX.stdin/.args/.mode for running the program elsewhere")
    ap.add_argument("program")
    a = ap.parse_args()

    prog = os.path.abspath(a.program)
    spec = parse(prog)
    name = os.path.splitext(os.path.basename(prog))[0]
    base = a.work_dir or tempfile.gettempdir()
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix=name + ".", dir=base)
    env = dict(os.environ)
    env.setdefault("KESTRIN_BUILD_DIR", os.path.dirname(os.path.abspath(a.bin_dir)))
    stdin_bytes = "".join(l + "\r\n" for l in (spec.stdin or [])).encode("latin-1")
    failures = []

    if a.emit:
        # Inputs for running the program elsewhere (the 32-bit guest).
        with open(a.emit + ".stdin", "wb") as f:
            f.write(stdin_bytes)
        with open(a.emit + ".args", "w") as f:
            f.write(" ".join(shlex.quote(x) for x in spec.args) + "\n")
        with open(a.emit + ".mode", "w") as f:
            f.write("bound\n" if spec.bound else "run\n")
        shutil.rmtree(work, ignore_errors=True)
        return 0

    if a.results:
        # Compare a run recorded elsewhere: RESULTS/NAME.rc, .stdout, .stderr.
        if spec.bound:
            print(f"skip {name} (bound executables run only on the host)")
            shutil.rmtree(work, ignore_errors=True)
            return 0
        stem = os.path.join(a.results, name)
        try:
            with open(stem + ".rc") as f:
                code = int(f.read().strip() or "-1")
            with open(stem + ".stdout", "rb") as f:
                out = f.read()
            with open(stem + ".stderr", "rb") as f:
                err = f.read()
        except (OSError, ValueError):
            code, out, err = -1, b"", b"no result recorded"
        out_t, err_t = normalise(out), normalise(err)
        check_run(spec, code, out_t, err_t, code == 124, a.timeout, failures)
    elif not spec.bound:
        krun = os.path.join(a.bin_dir, "krun.exe")
        cmd = ["bash", RUN_SH, krun] + spec.args + [winpath(prog)]
        code, out, err, timed_out = run(cmd, stdin_bytes, env, a.timeout, work)
        out_t, err_t = normalise(out), normalise(err)
        check_run(spec, code, out_t, err_t, timed_out, a.timeout, failures)
    else:
        kbind = os.path.join(a.bin_dir, "kbind.exe")
        exe = os.path.join(work, name + ".exe")
        cmd = ["bash", RUN_SH, kbind, winpath(prog), winpath(exe)]
        code, out, err, timed_out = run(cmd, b"", env, a.timeout, work)
        out_t, err_t = normalise(out), normalise(err)
        if timed_out or code != 0 or not os.path.isfile(exe):
            failures.append(f"kbind failed (exit {code}{', timed out' if timed_out else ''})")
        else:
            benv = dict(env)
            benv["KESTRIN_WINEDEBUG"] = "trace+msgbox"
            seen = {"n": 0, "last": 0.0}

            def dismiss(err_path):
                # Each box shown is answered with Return (its default button).
                try:
                    with open(err_path, "rb") as f:
                        n = len(boxes_in(normalise(f.read())))
                except OSError:
                    return
                now = time.monotonic()
                if n > 0 and (n > seen["n"] or now - seen["last"] > 1.0):
                    seen["n"], seen["last"] = n, now
                    xenv = dict(benv)
                    xenv["DISPLAY"] = ":" + env.get("KESTRIN_DISPLAY", "77")
                    subprocess.run(["xdotool", "key", "--clearmodifiers", "Return"],
                                   env=xenv, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   timeout=5)

            if not shutil.which("xdotool"):
                failures.append("xdotool not installed")
            else:
                work2 = os.path.join(work, "run")
                os.makedirs(work2)
                code, out, err, timed_out = run(["bash", RUN_SH, exe], stdin_bytes, benv,
                                                a.timeout, work2, on_tick=dismiss)
                out_t, err_t = normalise(out), normalise(err)
                shown = boxes_in(err_t)
                texts = [t for t, _ in shown]
                if timed_out:
                    failures.append(f"timed out after {a.timeout:g} s")
                if not timed_out and code != 0:
                    failures.append(f"bound exe exit code {code}, expected 0")
                for b in spec.boxes:
                    if not box_matches(b, shown):
                        failures.append(f"no message box with text {b!r}; shown: {texts!r}")
                if spec.no_box and shown:
                    failures.append(f"message box(es) shown: {texts!r}")
                if spec.stdout is not None or spec.contains:
                    check_output(spec, code, out_t, err_t, failures)

    if failures:
        print(f"FAIL {name}")
        for f in failures:
            print("  " + f.replace("\n", "\n  "))
        show("stdout", out_t)
        show("stderr", err_t[-8000:])
        return 1
    print(f"ok {name}")
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
