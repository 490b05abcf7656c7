#!/usr/bin/env python3
"""kt7310-eeprom as the world treats a process: Ctrl-C at a terminal prompt, a reader that goes away, a
closed standard output, a dropped session, a second Ctrl-C while a station ends.

Usage: process_attacks.py PATH-TO-kt7310-eeprom. Every wait has a bound; a case that runs into it fails.
"""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import threading

PROGRAM = sys.argv[1]
BOUND = int(os.environ.get("KT_ATTACK_BOUND", "120"))  # seconds any one case may take before it counts as a hang
failures = []
passed = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else "\n" + detail))
    (passed if ok else failures).append(name)


def on_terminal(args, until, then):
    """Runs the program on a new pseudo-terminal; once its output holds `until`, calls then(pid, fd).
    Returns the exit status (negative: the signal that killed it) and all it printed."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(PROGRAM, [PROGRAM] + args)
    # A program that never ends is killed at the bound, and the case then fails on its status.
    bound = threading.Timer(BOUND, os.kill, (pid, signal.SIGKILL))
    bound.start()
    seen, acted = b"", False
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the program has gone and the terminal with it
            break
        if not chunk:
            break
        seen += chunk
        if not acted and until.encode() in seen:
            acted = True
            then(pid, fd)
    _, status = os.waitpid(pid, 0)
    bound.cancel()
    code = os.waitstatus_to_exitcode(status)
    return code, seen.decode(errors="replace")


# At the re-plug prompt: Enter goes on with the job; Ctrl-C and SIGTERM end the wait at once, no job.
prompt_cases = [
    ("Enter at the prompt writes the board", lambda pid, fd: os.write(fd, b"\r"), 0, "Write to EEPROM OK!"),
    ("Ctrl-C at the prompt ends it, no job", lambda pid, fd: os.write(fd, b"\x03"), 130, None),
    ("SIGTERM at the prompt ends it, no job", lambda pid, fd: os.kill(pid, signal.SIGTERM), 130, None),
    ("SIGHUP at the prompt ends it, no job", lambda pid, fd: os.kill(pid, signal.SIGHUP), 130, None),
]
for name, act, want, text in prompt_cases:
    code, seen = on_terminal(["write", "--simulate=virtual-time"], "(press Enter", act)
    after = seen.split("(press Enter", 1)[-1]
    ok = code == want and (text in after if text else "progress" not in after and "Write to EEPROM" not in after)
    check(name, ok, "status %d, printed:\n%s" % (code, seen))

with tempfile.TemporaryDirectory() as folder:
    eeprom = os.path.join(folder, "board.eeprom")

    # A reader that goes away after three lines: no SIGPIPE death; the job ends, the board is whole, 28.
    job = subprocess.Popen([PROGRAM, "write", "--json", "--simulate=blank,virtual-time,eeprom=" + eeprom],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for _ in range(3):
        job.stdout.readline()
    job.stdout.close()
    err = job.stderr.read().decode()
    code = job.wait(BOUND)
    verify = subprocess.run([PROGRAM, "verify", "-q", "--simulate=virtual-time,eeprom=" + eeprom],
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=BOUND)
    check("a closed pipe ends the run with 28, the board written", code == 28 and verify.returncode == 0,
          "status %d, verify %d\n%s" % (code, verify.returncode, err))

    # Standard output closed before the start: the result is lost, and the status says so.
    run = subprocess.run(["sh", "-c", 'exec "$0" write --simulate=blank,virtual-time >&-', PROGRAM],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=BOUND)
    check("a closed standard output ends the run with 28", run.returncode == 28,
          "status %d\n%s" % (run.returncode, run.stderr.decode()))

    # A session that drops in the middle of a job: stopped as SIGTERM stops it.
    job = subprocess.Popen([PROGRAM, "write", "--simulate=blank"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for line in job.stderr:
        if line.startswith("progress"):
            job.send_signal(signal.SIGHUP)
            break
    out, err = job.communicate(timeout=BOUND)
    check("SIGHUP mid-job stops it as SIGTERM does (130)", job.returncode == 130 and "interrupted" in err,
          "status %d\n%s%s" % (job.returncode, out, err))

    # Ctrl-C, then Ctrl-C again and again while the station ends: the status stays the promised one.
    job = subprocess.Popen([PROGRAM, "station", "--watch", "--simulate=boards=2,blank,virtual-time"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    results = 0
    for line in job.stdout:
        results += "Write to EEPROM OK!" in line
        if results == 2:
            break
    sent = 0
    while job.poll() is None and sent < 100000:
        job.send_signal(signal.SIGINT)
        sent += 1
    out = job.communicate(timeout=BOUND)[0]
    check("repeated Ctrl-C while a station ends leaves its status 0 (%d sent)" % sent, job.returncode == 0,
          "status %d\n%s" % (job.returncode, out))

print("%d passed, %d failed" % (len(passed), len(failures)))
sys.exit(1 if failures else 0)
