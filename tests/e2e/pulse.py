"""A sound server of a test's own, in a runtime folder of its own, with a null sink named "null"
as its default: PulseAudio, or PipeWire with its PulseAudio service and its session manager
under a private D-Bus session bus. Both run without a sound card. Programs given client_env()
play to it and to nothing else; record() listens to the null sink's monitor with parec. Kind
"pipewire-pulse" is PipeWire whose clients find only its PulseAudio service, as in a sandbox
that lets only PulseAudio's socket through.

Used by the end-to-end tests and by tools/audio_bench.py."""

import json
import os
import signal
import socket
import subprocess
import tempfile

from processes import read_text, start_session_bus, wait_until

KINDS = ("pulseaudio", "pipewire", "pipewire-pulse")
RATE = 48000
CHANNELS = 2


class SoundServer:
    def __init__(self, processes, kind="pulseaudio"):
        if kind not in KINDS:
            raise ValueError(f"unknown sound server {kind!r}")
        self.kind = kind
        self.pipewire = kind.startswith("pipewire")
        self.processes = processes
        self.folder = tempfile.mkdtemp(prefix=f"varnek-{kind}-", dir=processes.log_dir)
        self.runtime = os.path.join(self.folder, "run")
        os.makedirs(self.runtime, mode=0o700)
        # Where clients look for PipeWire's own socket and find none.
        self.client_runtime = os.path.join(self.folder, "client-run") if kind == "pipewire-pulse" else self.runtime
        os.makedirs(self.client_runtime, mode=0o700, exist_ok=True)
        self.bus = None
        self.bus_address = None
        self.servers = []
        if self.pipewire:
            self._start_bus()
        self.start()

    # ---- Environment -------------------------------------------------------------------------

    def client_env(self, base=None):
        """The environment of a program that plays to this server only."""
        env = self.server_env(base)
        env["XDG_RUNTIME_DIR"] = self.client_runtime
        return env

    def server_env(self, base=None):
        """The environment of the server's own programs and of PipeWire's tools."""
        env = dict(os.environ if base is None else base)
        env.pop("PIPEWIRE_REMOTE", None)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["PULSE_SERVER"] = "unix:" + self.socket()
        # Nothing read from or written to the user's own home.
        for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state")):
            env[name] = os.path.join(self.folder, sub)
            os.makedirs(env[name], exist_ok=True)
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env

    def socket(self):
        return os.path.join(self.runtime, "pulse", "native")

    # ---- Start, kill, restart ----------------------------------------------------------------

    def start(self):
        """Starts the server (again) and waits until it answers with its null sink."""
        env = self.server_env()
        if self.kind == "pulseaudio":
            script = os.path.join(self.folder, "default.pa")
            with open(script, "w") as f:
                f.write(f"load-module module-null-sink sink_name=null rate={RATE}\n"
                        f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket()}\n"
                        "set-default-sink null\n"
                        # As on a desktop: a sink that nothing plays to for 5 s sleeps.
                        "load-module module-suspend-on-idle\n")
            self.servers = [self.processes.start("pulseaudio", [
                "pulseaudio", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                "--disallow-exit", "-n", "-F", script, "--log-target=stderr"], env=env)]
        else:
            # Its session manager gives up at once when PipeWire does not answer yet, and after
            # a kill the old socket file is still there: wait until the new one takes calls.
            self.servers = [self.processes.start("pipewire", ["pipewire"], env=env)]
            if not wait_until(lambda: _accepts(os.path.join(self.runtime, "pipewire-0")), 20, 0.05):
                raise RuntimeError("pipewire did not start:\n" + self.logs())
            # PipeWire's PulseAudio service loads a null sink only when asked.
            self.servers += [self.processes.start(name, [name], env=env)
                             for name in ("wireplumber", "pipewire-pulse")]
        if not wait_until(self.answers, 20, 0.1):
            raise RuntimeError(f"{self.kind} did not start:\n" + self.logs())
        if self.pipewire:
            self.pactl("load-module", "module-null-sink", "sink_name=null",
                       f"rate={RATE}", f"channels={CHANNELS}")
            self.pactl("set-default-sink", "null")
        if not wait_until(lambda: "null" in self.sinks(), 10, 0.1):
            raise RuntimeError(f"{self.kind} has no null sink:\n" + self.logs())

    def kill(self, how=signal.SIGKILL):
        """The server goes away as a crash would take it: its clients lose their connection."""
        for server in reversed(self.servers):
            self.processes.forget(server)
            if server.poll() is None:
                server.send_signal(how)
            server.wait(10)
        self.servers = []

    def restart(self):
        self.kill()
        self.start()

    def _start_bus(self):
        self.bus, self.bus_address = start_session_bus(self.processes, self.server_env())

    # ---- Questions ---------------------------------------------------------------------------

    def pactl(self, *args):
        try:
            result = subprocess.run(["pactl", *args], env=self.client_env(), capture_output=True,
                                    text=True, timeout=10)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 else None

    def answers(self):
        return all(s.poll() is None for s in self.servers) and self.pactl("info") is not None

    def sinks(self):
        return [line.split("\t")[1] for line in (self.pactl("list", "short", "sinks") or "").splitlines()
                if "\t" in line]

    def streams(self):
        """The playback streams (sink inputs) connected now."""
        return [line for line in (self.pactl("list", "short", "sink-inputs") or "").splitlines() if line]

    def nodes(self, name):
        """PipeWire's nodes named `name`, as pw-dump describes them: props and state in "info"."""
        try:
            result = subprocess.run(["pw-dump"], env=self.server_env(), capture_output=True, text=True,
                                    timeout=10)
            objects = json.loads(result.stdout or "[]")
        except (subprocess.TimeoutExpired, ValueError):
            return []
        return [o for o in objects if o.get("type") == "PipeWire:Interface:Node"
                and (o.get("info") or {}).get("props", {}).get("node.name") == name]

    def server_pids(self):
        return [s.pid for s in self.servers]

    def logs(self):
        return "\n".join(f"--- {s.name} ---\n" + read_text(s.log_path, tail=30) for s in self.servers)

    # ---- Listening ---------------------------------------------------------------------------

    def record(self, path=None, latency_ms=20, sample_format="s16le"):
        """Starts parec on the null sink's monitor, writing stereo at RATE to `path` (raw) or to
        a pipe (stdout=PIPE) when no path is given, in pieces of `latency_ms` (the server's own
        choice is seconds). The caller ends it with stop_recording."""
        argv = ["parec", "-d", "null.monitor", "--raw", f"--format={sample_format}", f"--rate={RATE}",
                f"--channels={CHANNELS}", f"--latency-msec={latency_ms}"]
        output = open(path, "wb") if path else subprocess.PIPE
        recorder = subprocess.Popen(argv, env=self.client_env(), stdout=output,
                                    stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        if path:
            output.close()
        return recorder

    @staticmethod
    def stop_recording(recorder):
        if recorder.poll() is None:
            recorder.send_signal(signal.SIGINT)
            try:
                recorder.wait(5)
            except subprocess.TimeoutExpired:
                recorder.kill()
                recorder.wait()


def _accepts(path):
    """Whether a server listens on the Unix socket at path."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        try:
            probe.connect(path)
            return True
        except OSError:
            return False


def read_raw(path):
    """The first channel of a raw 16-bit stereo recording, as floats in -1..1."""
    import array
    samples = array.array("h")
    with open(path, "rb") as f:
        data = f.read()
    samples.frombytes(data[:len(data) // 4 * 4])
    return [v / 32768.0 for v in samples[::CHANNELS]]
