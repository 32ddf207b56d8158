#!/usr/bin/env bash
# stalled_terminal.sh -- the real binary on a pseudo-terminal whose output
# nobody reads: the numbers are typed, the transfer runs until the
# terminal takes no more and the program waits in its write; then SIGTERM
# (and, in a second run, SIGHUP) must still end it within 2 s, by that
# signal, with the terminal's line mode and echo given back.
# Usage: stalled_terminal.sh path/to/quombax   (exits 77, skipped, without python3)
set -u
binary=$1
command -v python3 > /dev/null || { echo "python3 is not installed: skipped"; exit 77; }
exec python3 - "$binary" << 'EOF'
import fcntl, os, pty, shutil, signal, struct, sys, tempfile, termios, time

binary = sys.argv[1]
failures = []

def file_size(path):
    try:
        return os.stat(path).st_size
    except FileNotFoundError:
        return -1

def wait_exit(pid, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.02)
    return None

for name in ("SIGTERM", "SIGHUP"):
    number = getattr(signal, name)
    directory = tempfile.mkdtemp(prefix="quombax-stall-")
    output = os.path.join(directory, "dagoma0.g")
    pid, master = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 120, 0, 0))
        os.chdir(directory)
        os.execve(binary, [binary], {"PATH": "/usr/bin:/bin", "TERM": "xterm", "LANG": "C.UTF-8"})
    # The form flushes pending keys before each number: one entry at a time.
    time.sleep(1)
    for entry in (b"10\r", b"210\r", b"200\r"):
        os.write(master, entry)
        time.sleep(0.5)
    # Nothing reads the terminal: once it is full, the file stops growing.
    stalled = False
    last, still_since = file_size(output), time.monotonic()
    end = time.monotonic() + 120
    while time.monotonic() < end:
        time.sleep(0.1)
        size = file_size(output)
        if size != last:
            last, still_since = size, time.monotonic()
        elif size > 0 and time.monotonic() - still_since >= 1.5:
            stalled = True
            break
    if not stalled:
        failures.append(f"{name}: the transfer never stalled on the unread terminal (dagoma0.g: {last} bytes)")
    os.kill(pid, number)
    status = wait_exit(pid, 2)
    if status is None:
        failures.append(f"{name}: the program did not end within 2 s of the signal")
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    elif not os.WIFSIGNALED(status) or os.WTERMSIG(status) != number:
        failures.append(f"{name}: ended with wait status {status:#x}, not by the signal")
    modes = termios.tcgetattr(master)[3]
    if not (modes & termios.ICANON and modes & termios.ECHO):
        failures.append(f"{name}: line mode and echo not given back")
    os.close(master)
    shutil.rmtree(directory, ignore_errors=True)

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
print("stalled terminal: all cases passed")
EOF
