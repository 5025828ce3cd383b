"""Child processes of an end-to-end test: started with a log file each, killed and waited for
when the test ends, and killed by the kernel if the test runner itself dies first."""

import ctypes
import os
import signal
import subprocess
import time

_PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    # A test runner killed by its time-out must not leave servers behind.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)


class ProcessGroup:
    """The processes one test started, ended in the reverse order of their start."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self._started = []

    def start(self, name, argv, env, pass_fds=(), stop_signal=signal.SIGTERM):
        """Starts a program with its output in <name>.log; stop() ends it with stop_signal."""
        log_path = os.path.join(self.log_dir, name + ".log")
        log = open(log_path, "wb")
        process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, pass_fds=pass_fds,
                                   preexec_fn=_die_with_parent)
        log.close()
        process.log_path = log_path
        process.name = name
        process.stop_signal = stop_signal
        self._started.append(process)
        return process

    def stop(self, process, patience=3.0):
        """Asks the process to end, then kills it; returns its exit status."""
        if process.poll() is None:
            process.send_signal(process.stop_signal)
            try:
                process.wait(patience)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        return process.returncode

    def stop_all(self):
        while self._started:
            process = self._started.pop()
            stop = getattr(process, "stop", None)
            stop() if stop else self.stop(process)

    def forget(self, process):
        """For a process the test has already waited for itself."""
        if process in self._started:
            self._started.remove(process)


def start_session_bus(processes, env, name="dbus"):
    """A D-Bus session bus of the caller's own: its process and its address."""
    read_end, write_end = os.pipe()
    bus = processes.start(name, [
        "dbus-daemon", "--session", "--nofork", "--nopidfile", f"--print-address={write_end}"],
        env=env, pass_fds=(write_end,))
    os.close(write_end)
    with os.fdopen(read_end) as address:
        bus_address = address.readline().strip()
    if not bus_address:
        raise RuntimeError("dbus-daemon did not start:\n" + read_text(bus.log_path))
    return bus, bus_address


def wait_until(predicate, timeout, interval=0.05):
    """Polls until predicate() gives a true value and returns it, or returns None at time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def read_text(path, tail=None):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError:
        return ""
    if tail is not None:
        text = "\n".join(text.splitlines()[-tail:])
    return text


def children_of(pid):
    """The ids of the live processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold blanks and parentheses; the fields after it do not.
        fields = stat[stat.rindex(")") + 2:].split()
        if int(fields[1]) == pid:
            found.append(int(entry))
    return found


def process_state(pid):
    """The one-letter state of a process (Z for a zombie), or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    return stat[stat.rindex(")") + 2:].split()[0]
