"""Wine test bed for the Windows programs (Python 3, standard library only).

A bed owns, for one test module or one demo run:
  - a private Xvfb display (1280x1024x24, free number picked by the server),
  - a private PulseAudio daemon whose default sink is a null sink and whose
    default source is that sink's monitor, with a parec reader recording the
    monitor to a raw file (started before any Wine process: a waveOut client
    that starts against an idle sink drifts in pace),
  - Wine prefixes copied from one template cached under the build folder,
    one per client that must run side by side (each prefix has its own
    wineserver, hence its own named mutexes).

Teardown ends only what the bed started, by PID, and runs `wineserver -k`
for each of its prefixes. Every child gets PR_SET_PDEATHSIG so that a test
killed by a ctest timeout does not leave a display or a sound server behind.

Environment:
  ORVA_BUILD   build folder holding the cached prefix (default build/native)
  ORVA_DIST    program folder to test (default dist/Orva-Lin)
  ORVA_WINE_TIMEOUT_SCALE   multiplies every timeout (slow machines)
  ORVA_KEEP_BED=1           keep the bed folder (logs, prefix) after teardown
"""

import atexit
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

# Tests import everything from here.
from observe import (RECORD_CHANNELS, RECORD_RATE, TIMEOUT_SCALE, DelayProxy, Image, Recorder,  # noqa: E402,F401
                     UdpListener, collapse, dft_peak, holds_sequence, log, near, peak_rms, poll,
                     rms, scaled, send_udp, solid_png, tone_bursts, udp_datagram_cost,
                     udp_local_addresses, udp_ports_of, udp_receive_queues, write_wav,
                     zero_crossing_frequency)
from wineprefix import (BUILD, CA_PEM, CHIME_HZ, REPO, SPEECH_ENGINE, TEMPLATE, TLS, Win32Window,  # noqa: E402,F401
                        copy_prefix, ensure_prefix_template, ensure_tools, parse_wininfo,
                        prefix_env, speech_engine_pattern)

# Absolute: Wine refuses a relative WINEPREFIX, and tests change folders.
DIST = Path(os.environ.get("ORVA_DIST") or REPO / "dist" / "Orva-Lin").resolve()
BEDS = BUILD / "wine-beds"
CLIENT_EXE = "Orva-Lin.exe"
COMPANION_EXE = "Talvo.exe"
INSTALL_DIR = "Program Files/Orva-Lin"   # under drive_c, as an installer would
SCREEN = (1280, 1024)


def open_client_bed(name):
    """The bed of one test module. A program folder without the client fails
    the module: a test that cannot run must not pass as skipped."""
    exe = DIST / CLIENT_EXE
    if not exe.is_file():
        raise AssertionError(f"{exe} is missing: run ./orva build")
    bed = Bed(name)
    bed.__enter__()
    return bed


def close_all(*things):
    """Module teardown: beds are left, listeners closed; None is skipped."""
    for thing in things:
        if thing is None:
            continue
        if isinstance(thing, Bed):
            thing.__exit__(None, None, None)
        else:
            thing.close()


def protocol_constant(name, header=REPO / "common" / "protocol.h"):
    """An integer constant of the shared wire header, so tests never restate it."""
    text = header.read_text(encoding="utf-8")
    m = re.search(r"\b" + re.escape(name) + r"\s*=\s*(?:'(.)'|([0-9][0-9xXa-fA-F']*))", text)
    if not m:
        raise AssertionError(f"{name} not found in {header}")
    return ord(m.group(1)) if m.group(1) else int(m.group(2).replace("'", ""), 0)


def companion_port():
    return protocol_constant("kCompanionPort")


# ---- process helpers --------------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


def spawn(argv, env, cwd=None, stdout=None, stderr=None, pass_fds=()):
    """A child process that gets SIGTERM when this one dies."""
    return subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=stderr, pass_fds=pass_fds,
                            preexec_fn=_die_with_parent)


def stop_child(proc, grace=3.0):
    """Ends one child we started, by its PID, politely then not."""
    if proc is None or proc.poll() is not None:
        return
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
        try:
            proc.send_signal(sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=wait)
            return
        except subprocess.TimeoutExpired:
            continue


def _tail(path, lines=25):
    try:
        text = Path(path).read_text(errors="replace").splitlines()
    except OSError:
        return "(no log)"
    return "\n".join(text[-lines:])


# ---- Wine processes ------------------------------------------------------------

class WineProcess:
    """One Windows program started by `wine`, with its log."""

    def __init__(self, popen, name, prefix, log_path):
        self.popen, self.name, self.prefix, self.log_path = popen, name, prefix, log_path
        self.pid = popen.pid

    def alive(self):
        return self.popen.poll() is None

    def wait(self, timeout=30):
        """Exit code; AssertionError when it is still running after timeout."""
        try:
            return self.popen.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            raise AssertionError(f"{self.name} still running after {scaled(timeout):.0f} s; "
                                 f"log:\n{_tail(self.log_path)}") from None

    def stop(self):
        stop_child(self.popen, grace=2.0)

    def log_text(self):
        return _tail(self.log_path, 200)


# ---- the bed ---------------------------------------------------------------------

def _ere(literal):
    return re.sub(r"([.\[\]()*+?{}|^$\\])", r"\\\1", literal)


def _end_on_signal(signum, frame):
    # SIGTERM/SIGHUP unwind like Ctrl-C, so the with-block's teardown runs.
    raise KeyboardInterrupt(f"signal {signum}")


def _remove_stale_beds(max_age_hours=12):
    """Bed folders of runs that died without teardown, once they are old."""
    cutoff = time.time() - max_age_hours * 3600
    for d in BEDS.iterdir() if BEDS.is_dir() else ():
        try:
            if d.is_dir() and d.stat().st_mtime < cutoff:
                shutil.rmtree(d, ignore_errors=True)
        except OSError:
            pass


class Bed:
    """Xvfb + PulseAudio + Wine prefixes. Use as a context manager.

    audio: True for the private null sink and its recording, False for no
    sound at all, "host" to leave the desktop's own sound server in place.
    display: an existing X display to use instead of a private Xvfb."""

    def __init__(self, name="bed", audio=True, display=None):
        self.name = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
        self.want_audio = audio
        self.user_display = display        # run on an existing display instead
        self.root = None
        self.display = None
        self.xvfb = self.pulse = self.parec = None
        self.pulse_dir = None
        self.pulse_server = None
        self.recorder = None
        self.prefixes = []
        self.processes = []
        self.keep = os.environ.get("ORVA_KEEP_BED") == "1"
        self._prefix_count = 0
        self._open = False

    # -- life cycle --
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def start(self):
        if threading.current_thread() is threading.main_thread():
            for sig in (signal.SIGTERM, signal.SIGHUP):
                signal.signal(sig, _end_on_signal)
        self._open = True
        atexit.register(self.close)     # also after an unhandled interrupt
        BEDS.mkdir(parents=True, exist_ok=True)
        _remove_stale_beds()
        self.root = Path(tempfile.mkdtemp(prefix=self.name + "-", dir=BEDS))
        ensure_prefix_template()
        ensure_tools()
        if self.user_display:
            self.display = self.user_display
        else:
            self._start_xvfb()
        if self.want_audio is True:
            self._start_pulse()
            self._start_parec()
        self.prefix = self.new_prefix()
        sound = {True: "null sink", False: "none", "host": "the desktop's"}[self.want_audio]
        log(f"bed {self.root.name}: display {self.display}, sound {sound}")

    def _start_xvfb(self):
        # -displayfd: the server picks a free display number and writes it here.
        r, w = os.pipe()
        with open(self.root / "xvfb.log", "wb") as log_f:
            self.xvfb = spawn(["Xvfb", "-displayfd", str(w), "-screen", "0",
                               f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                              env=dict(os.environ), stdout=log_f, stderr=log_f, pass_fds=(w,))
        os.close(w)
        got = b""
        deadline = time.monotonic() + scaled(30)
        os.set_blocking(r, False)
        while not got.endswith(b"\n"):
            if self.xvfb.poll() is not None:
                break
            if time.monotonic() > deadline:
                break
            try:
                chunk = os.read(r, 32)
                if not chunk:
                    break
                got += chunk
            except BlockingIOError:
                time.sleep(0.05)
        os.close(r)
        if not got.strip().isdigit():
            raise AssertionError(f"Xvfb did not start:\n{_tail(self.root / 'xvfb.log')}")
        self.display = ":" + got.decode().strip()

    def _start_pulse(self):
        self.pulse_dir = Path(tempfile.mkdtemp(prefix="orva-pa-"))
        sock = self.pulse_dir / "native"
        env = dict(os.environ, HOME=str(self.pulse_dir), XDG_RUNTIME_DIR=str(self.pulse_dir),
                   PULSE_RUNTIME_PATH=str(self.pulse_dir), XDG_CONFIG_HOME=str(self.pulse_dir),
                   DBUS_SESSION_BUS_ADDRESS="disabled:")
        env.pop("DISPLAY", None)
        # -n -F /dev/null: none of the system's configuration, only these modules.
        with open(self.root / "pulse.log", "wb") as log_f:
            self.pulse = spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                "--use-pid-file=no", "--disallow-exit", "--log-target=stderr",
                                "-F", "/dev/null",
                                "-L", "module-null-sink sink_name=orva_sink rate=48000 "
                                      "channels=2 sink_properties=device.description=OrvaNullSink",
                                "-L", f"module-native-protocol-unix auth-anonymous=1 socket={sock}"],
                               env=env, stdout=log_f, stderr=log_f)
        self.pulse_server = f"unix:{sock}"
        self._pulse_env = dict(env, PULSE_SERVER=self.pulse_server)

        def ready():
            if self.pulse.poll() is not None:
                raise AssertionError(f"pulseaudio exited:\n{_tail(self.root / 'pulse.log')}")
            return sock.exists() and subprocess.run(
                ["pactl", "info"], env=self._pulse_env, capture_output=True,
                timeout=scaled(10)).returncode == 0
        poll(ready, 30, what="the PulseAudio daemon")
        for cmd in (["set-default-sink", "orva_sink"], ["set-default-source", "orva_sink.monitor"]):
            subprocess.run(["pactl", *cmd], env=self._pulse_env, check=True,
                           capture_output=True, timeout=scaled(10))

    def _start_parec(self):
        path = self.root / "monitor.raw"
        with open(path, "wb") as out, open(self.root / "parec.log", "wb") as err:
            self.parec = spawn(["parec", "--device=orva_sink.monitor", "--format=s16le",
                                f"--rate={RECORD_RATE}", f"--channels={RECORD_CHANNELS}",
                                "--latency-msec=10", "--raw"],
                               env=self._pulse_env, stdout=out, stderr=err)
        self.recorder = Recorder(path)
        # The null sink's monitor delivers silence as soon as the stream runs.
        poll(lambda: self.recorder.mark() > RECORD_RATE // 20 or self.parec.poll() is not None,
             20, what="parec to start recording")
        if self.parec.poll() is not None:
            raise AssertionError(f"parec exited:\n{_tail(self.root / 'parec.log')}")

    def close(self):
        """Ends what this bed started: its Wine processes, its wineservers,
        parec, PulseAudio and Xvfb, each by PID."""
        if not self._open:
            return
        self._open = False
        for p in reversed(self.processes):
            p.stop()
        for prefix in self.prefixes:
            env = self.env(prefix)
            try:
                subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=env, timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                log(f"wineserver of {prefix} did not end in time")
        for proc in (self.parec, self.pulse, self.xvfb):
            stop_child(proc)
        if self.pulse_dir:
            shutil.rmtree(self.pulse_dir, ignore_errors=True)
        if self.root and not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)
        elif self.root:
            log(f"bed kept in {self.root}")
        self.processes = []

    def leftovers(self):
        """PIDs of processes still running inside one of this bed's prefixes."""
        roots = [str(p) for p in self.prefixes]
        found = []
        for d in os.listdir("/proc"):
            if not d.isdigit():
                continue
            try:
                with open(f"/proc/{d}/environ", "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            for kv in env:
                if kv.startswith(b"WINEPREFIX=") and kv[11:].decode(errors="replace") in roots:
                    found.append(int(d))
        return found

    # -- prefixes and program folders --
    def new_prefix(self):
        self._prefix_count += 1
        path = copy_prefix(self.root / f"prefix{self._prefix_count}")
        self.prefixes.append(path)
        return path

    def env(self, prefix=None):
        env = prefix_env(prefix or self.prefix, self.display)
        if self.want_audio == "host":
            for k in ("PULSE_SERVER", "PULSE_COOKIE"):
                if k in os.environ:
                    env[k] = os.environ[k]
            return env
        # Never the desktop's sound server: the private one, or none at all.
        env["PULSE_SERVER"] = self.pulse_server or "unix:/nonexistent"
        env["XDG_RUNTIME_DIR"] = str(self.pulse_dir or self.root)
        return env

    def set_managed(self, managed, prefix=None):
        """Lets a window manager manage the prefix's windows (for a desktop
        demo); only before the prefix's wineserver has started."""
        reg = Path(prefix or self.prefix) / "user.reg"
        text = reg.read_text(encoding="utf-8", errors="surrogateescape")
        want = '"Managed"="Y"' if managed else '"Managed"="N"'
        text = re.sub(r'"Managed"="[YN]"', want, text)
        reg.write_text(text, encoding="utf-8", errors="surrogateescape")

    def program_folder(self, without=(), prefix=None, folder=INSTALL_DIR, dist=None):
        """Copies the dist folder to C:\\Program Files\\Orva-Lin of a prefix
        (optionally without some files) and returns its path."""
        dist = Path(dist or DIST)
        # ./orva build remakes dist/ from scratch: give a rebuild in progress
        # a moment before calling the program missing.
        try:
            poll(lambda: (dist / CLIENT_EXE).is_file(), 15, interval=0.5)
        except AssertionError:
            raise AssertionError(f"{dist / CLIENT_EXE} is missing: run ./orva build") from None
        dst = Path(prefix or self.prefix) / "drive_c" / folder
        shutil.rmtree(dst, ignore_errors=True)
        dst.mkdir(parents=True)
        missing = set(without) - {p.name for p in dist.iterdir()}
        if missing:
            raise AssertionError(f"not in {dist}: {sorted(missing)}")
        for f in dist.iterdir():
            if f.name in without:
                continue
            (shutil.copytree if f.is_dir() else shutil.copy2)(f, dst / f.name)
        return dst

    # -- running programs --
    def launch(self, exe, cwd=None, args=(), prefix=None, name=None, extra_env=None):
        """Starts a Windows program under wine; returns a WineProcess."""
        exe = Path(exe)
        cwd = Path(cwd or exe.parent)
        name = name or exe.name
        log_path = self.root / f"{name}.{len(self.processes)}.log"
        env = self.env(prefix)
        if extra_env:
            env.update(extra_env)
        with open(log_path, "wb") as log_f:
            popen = spawn(["wine", str(exe), *args], env=env, cwd=str(cwd),
                          stdout=log_f, stderr=log_f)
        proc = WineProcess(popen, name, Path(prefix or self.prefix), log_path)
        self.processes.append(proc)
        return proc

    def run(self, exe, cwd=None, args=(), prefix=None, timeout=60):
        """Runs a program to its end; returns its exit code."""
        proc = self.launch(exe, cwd, args, prefix)
        try:
            return proc.wait(timeout)
        finally:
            proc.stop()

    def play_wav(self, windows_path, prefix=None, timeout=60):
        """Plays a WAV file of the prefix through winmm; returns the exit code."""
        return self.run(ensure_tools() / "playwav.exe", self.root, [windows_path],
                        prefix=prefix, timeout=timeout)

    def start_web_host(self, members):
        """orva-webhost (webhost.start) with its data folder and log in the
        bed, stopped at teardown."""
        import webhost   # here: it imports this module
        n = len(self.processes)
        host = webhost.start(self.root / f"webhost{n}", members, self.root / f"webhost{n}.log",
                             passwords=False)
        self.processes.append(host)
        return host

    def dialog(self, title, control, text=None, prefix=None):
        """Sets the text of a dialog's control (as typing would), or presses
        the button when no text is given."""
        args = [title, str(control)] + ([text] if text is not None else [])
        code = self.run(ensure_tools() / "dlgctl.exe", self.root, args, prefix=prefix, timeout=30)
        if code != 0:
            raise AssertionError(f"dlgctl {args}: no such window or control ({code})")

    def start_client(self, folder=None, prefix=None, extra_env=None):
        folder = Path(folder) if folder else self.program_folder(prefix=prefix)
        return self.launch(folder / CLIENT_EXE, folder, prefix=prefix, name="Orva-Lin", extra_env=extra_env)

    def wininfo(self, prefix=None):
        """Every top-level window of the prefix's wineserver, with control texts."""
        exe = ensure_tools() / "wininfo.exe"
        try:
            r = subprocess.run(["wine", str(exe)], env=self.env(prefix), capture_output=True,
                               timeout=scaled(60), cwd=str(self.root))
        except subprocess.TimeoutExpired:
            log("wininfo.exe did not answer within 60 s")
            return []
        return parse_wininfo(r.stdout.decode("utf-8", errors="replace"))

    def wait_win32(self, title, prefix=None, timeout=30, visible=True):
        """The Win32 top-level window with exactly this title (via wininfo)."""
        last = []

        def look():
            last[:] = self.wininfo(prefix)
            for w in last:
                if w.title == title and (w.visible or not visible):
                    return w
            return None
        try:
            return poll(look, timeout, interval=0.5, what=f"Win32 window {title!r}")
        except AssertionError as e:
            raise AssertionError(f"{e}; windows: {[w.title for w in last if w.visible]}") from None

    def longest_stall(self, title, seconds, prefix=None):
        """Longest time (ms) the message loop of the window titled `title` kept a
        WM_NULL waiting, probed every 5 ms for `seconds` (tools/uiprobe.c)."""
        exe = ensure_tools() / "uiprobe.exe"
        r = subprocess.run(["wine", str(exe), title, str(seconds)], env=self.env(prefix),
                           capture_output=True, text=True, timeout=scaled(120) + seconds,
                           cwd=str(self.root))
        m = re.search(r"max_ms=([0-9.]+)", r.stdout)
        if not m:
            raise AssertionError(f"uiprobe.exe: {r.stdout}{r.stderr}")
        return float(m.group(1))

    # -- X windows --
    def xdo(self, *args, timeout=20, check=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env(), capture_output=True,
                           text=True, timeout=scaled(timeout))
        if check and r.returncode != 0:
            raise AssertionError(f"xdotool {' '.join(map(str, args))} failed: {r.stderr.strip()}")
        return r

    def find_windows(self, title, visible=True, regex=False):
        """X window ids whose name is title (exact, case-sensitive) or matches regex."""
        pattern = title if regex else "^" + _ere(title) + "$"
        args = ["search"] + (["--onlyvisible"] if visible else []) + ["--name", pattern]
        r = self.xdo(*args, check=False)
        ids = [int(x) for x in r.stdout.split()]
        if regex:
            return ids
        return [i for i in ids if self.window_name(i) == title]

    def window_name(self, wid):
        r = self.xdo("getwindowname", wid, check=False)
        return r.stdout.rstrip("\n") if r.returncode == 0 else None

    def visible_titles(self):
        r = self.xdo("search", "--onlyvisible", "--name", ".", check=False)
        return [self.window_name(int(x)) for x in r.stdout.split()]

    def wait_window(self, title, timeout=60, visible=True, regex=False):
        """The first X window named title; AssertionError listing what is shown."""
        try:
            return poll(lambda: (self.find_windows(title, visible, regex) or [None])[0],
                        timeout, interval=0.3, what=f"window {title!r}")
        except AssertionError as e:
            raise AssertionError(f"{e}; visible windows: {self.visible_titles()}") from None

    def wait_no_window(self, title, timeout=30):
        try:
            poll(lambda: not self.find_windows(title), timeout, what=f"window {title!r} to close")
        except AssertionError as e:
            raise AssertionError(f"{e}; visible windows: {self.visible_titles()}") from None

    def geometry(self, wid):
        """(x, y, width, height) of a top-level X window on the screen."""
        r = self.xdo("getwindowgeometry", "--shell", wid)
        vals = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
        return int(vals["X"]), int(vals["Y"]), int(vals["WIDTH"]), int(vals["HEIGHT"])

    def focus(self, wid):
        """Gives the window the X input focus: Wine takes keys only then."""
        r = self.xdo("windowfocus", "--sync", wid, check=False, timeout=10)
        if r.returncode != 0:
            self.xdo("windowfocus", wid)
        time.sleep(0.2)

    def key(self, wid, *keys, delay_ms=60):
        """Presses and releases keys (xdotool names: Escape, Return, a, ...)."""
        self.focus(wid)
        self.xdo("key", "--delay", delay_ms, *keys)

    def type_text(self, wid, text, delay_ms=40):
        self.focus(wid)
        self.xdo("type", "--delay", delay_ms, text)

    def click(self, wid, x, y, button=1):
        """Clicks at (x, y) in the window's own coordinates."""
        self.xdo("mousemove", "--window", wid, "--sync", x, y)
        time.sleep(0.1)
        self.xdo("click", button)

    def move_mouse(self, wid, x, y):
        self.xdo("mousemove", "--window", wid, "--sync", x, y)

    def screenshot(self, path=None):
        """Saves the whole screen as PNG; returns the path."""
        path = Path(path or self.root / f"screen-{time.monotonic_ns()}.png")
        path.parent.mkdir(parents=True, exist_ok=True)
        r = subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                           env=self.env(), capture_output=True, timeout=scaled(60))
        if r.returncode != 0 or not path.exists():
            raise AssertionError(f"screenshot failed: {r.stderr.decode(errors='replace')}")
        return path

    def screen(self):
        """A screenshot read back as an Image."""
        return Image.load(self.screenshot())


def _prepare():
    started = time.monotonic()
    ensure_prefix_template()
    ensure_tools()
    log(f"Wine test bed prepared in {time.monotonic() - started:.1f} s ({TEMPLATE})")


if __name__ == "__main__":
    if sys.argv[1:] == ["prepare"]:
        _prepare()
    else:
        print("usage: harness.py prepare", file=sys.stderr)
        sys.exit(2)
