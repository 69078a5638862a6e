"""The Wine prefix template cached under the build folder, the private
copies that test beds run in, and the small Windows helper programs the
beds use (built with MinGW-w64)."""

import array
import fcntl
import hashlib
import math
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

from observe import log, scaled, write_wav

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
BUILD = Path(os.environ.get("ORVA_BUILD") or REPO / "build" / "native").resolve()  # WINEPREFIX must be absolute
TEMPLATE = BUILD / "wine-prefix-template"
TOOLS = BUILD / "wine-tools"
# The local certificate authority of `./orva build`; the template trusts it.
TLS = Path(os.environ.get("ORVA_TLS") or REPO / "build" / "tls").resolve()
CA_PEM = TLS / "ca.pem"
CHIME_HZ = 880.0           # the tone of the chime the template installs
CHIME_SECONDS = 0.8

# Bumped whenever the template recipe changes, so cached prefixes are remade.
TEMPLATE_RECIPE = "5"

WINE_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"

# The stand-in speech engine (tests/wine/speech_engine/), built by the
# windows preset and copied into every prefix, where the template's registry
# points Wine's runtime at it for the speech synthesizer and the data reader.
WINDOWS_BUILD = Path(os.environ.get("ORVA_WINDOWS_BUILD") or REPO / "build" / "windows").resolve()
SPEECH_ENGINE = WINDOWS_BUILD / "speech_engine.dll"
SPEECH_ENGINE_IN_PREFIX = "orva-test/speech_engine.dll"      # under drive_c
SPEECH_CLASSES = ("Windows.Media.SpeechSynthesis.SpeechSynthesizer", "Windows.Storage.Streams.DataReader")


def speech_engine_pattern(text, female=False):
    """The burst frequencies the stand-in engine speaks a text with: its
    UTF-16 units four at a time, 300 + 100 * (sum mod 12) Hz, x1.5 for a
    female voice (see speech_engine.cpp)."""
    units = [int.from_bytes(text.encode("utf-16-le")[i:i + 2], "little")
             for i in range(0, len(text.encode("utf-16-le")), 2)]
    return [(300 + 100 * (sum(units[i:i + 4]) % 12)) * (1.5 if female else 1.0)
            for i in range(0, len(units), 4)]


# ---- the cached prefix template ----------------------------------------------

def _wine_version():
    try:
        return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                              timeout=60).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        return "unknown"


def write_chime(path, hz=CHIME_HZ, seconds=CHIME_SECONDS, rate=22050):
    """A bell-like decaying tone of one known pitch, so the recording can be checked."""
    frames = int(rate * seconds)
    pcm = array.array("h")
    for i in range(frames):
        t = i / rate
        env = min(1.0, t / 0.005) * math.exp(-3.5 * t)
        pcm.append(int(20000 * env * math.sin(2 * math.pi * hz * t)))
    return write_wav(path, pcm, 1, rate)


_TEMPLATE_REG = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Arial"="Liberation Sans"
"Times New Roman"="Liberation Serif"
"Courier New"="Liberation Mono"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="pulse"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

""" + "".join(
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\%s]\n"
    "\"DllPath\"=\"C:\\\\%s\"\n"
    "\"ActivationType\"=dword:00000000\n\n" % (c, SPEECH_ENGINE_IN_PREFIX.replace("/", "\\\\"))
    for c in SPEECH_CLASSES)


def _font_files():
    found = []
    for d in ("/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/liberation2"):
        found += sorted(Path(d).glob("Liberation*.ttf")) if Path(d).is_dir() else []
    return found


def _ca_digest():
    try:
        return hashlib.sha256(CA_PEM.read_bytes()).hexdigest()[:16]
    except OSError:
        return "none"


def _template_stamp():
    # A new local CA remakes the template, so its prefixes trust the new one.
    return f"recipe {TEMPLATE_RECIPE}; {_wine_version()}; ca {_ca_digest()}\n"


def _trust_local_ca(work, env):
    """Adds the local CA to the prefix's ROOT store, where Windows keeps the
    authorities it trusts; the programs themselves have no say in it."""
    if not CA_PEM.is_file():
        log(f"{CA_PEM} is missing: the prefix trusts no local web host")
        return
    shutil.copy2(CA_PEM, work / "drive_c" / "orva-ca.pem")
    r = subprocess.run(["wine", str(ensure_tools() / "trustca.exe"), "C:\\orva-ca.pem"], env=env,
                       capture_output=True, text=True, timeout=scaled(300))
    _wait_wineserver(work, 120)
    (work / "drive_c" / "orva-ca.pem").unlink()
    if r.returncode != 0:
        raise AssertionError(f"trustca.exe failed ({r.returncode}):\n{r.stderr[-2000:]}")


def prefix_env(prefix, display=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("WINE", "PULSE_"))}
    env.update(WINEPREFIX=str(prefix), WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES=WINE_OVERRIDES)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def _wait_wineserver(prefix, timeout):
    env = prefix_env(prefix)
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=scaled(timeout),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_prefix_template():
    """Builds the cached prefix once (under a lock) and returns its path."""
    BUILD.mkdir(parents=True, exist_ok=True)
    stamp_name = ".orva-template"
    with open(BUILD / "wine-prefix-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = _template_stamp()
        ready = TEMPLATE / stamp_name
        if ready.exists() and ready.read_text() == stamp:
            return TEMPLATE
        fonts = _font_files()
        if not fonts:
            raise AssertionError("no Liberation fonts found: install fonts-liberation")
        work = BUILD / f"wine-prefix-template.new-{os.getpid()}"
        shutil.rmtree(work, ignore_errors=True)
        env = prefix_env(work)
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="   # no Mono or Gecko prompt
        started = time.monotonic()
        log(f"making the Wine prefix template in {work}")
        boot = subprocess.run(["wine", "wineboot", "-i"], env=env, capture_output=True,
                              text=True, timeout=scaled(600))
        _wait_wineserver(work, 300)
        if not (work / "system.reg").exists():
            raise AssertionError(f"wineboot failed ({boot.returncode}):\n{boot.stderr[-2000:]}")
        fonts_dir = work / "drive_c" / "windows" / "Fonts"
        fonts_dir.mkdir(parents=True, exist_ok=True)
        for f in fonts:
            shutil.copy2(f, fonts_dir / f.name)
        media = work / "drive_c" / "windows" / "Media"
        media.mkdir(parents=True, exist_ok=True)
        write_chime(media / "chimes.wav")
        reg = work / "drive_c" / "orva-template.reg"
        reg.write_text(_TEMPLATE_REG.replace("\n", "\r\n"), encoding="ascii")
        imp = subprocess.run(["wine", "regedit", "/S", "C:\\orva-template.reg"], env=env,
                             capture_output=True, text=True, timeout=scaled(300))
        _wait_wineserver(work, 120)
        reg.unlink()
        _trust_local_ca(work, env)
        user_reg = (work / "user.reg").read_text(errors="replace")
        for needle in ('"Arial"="Liberation Sans"', '"Managed"="N"'):
            if needle not in user_reg:
                raise AssertionError(f"registry import failed ({imp.returncode}), "
                                     f"{needle} missing:\n{imp.stderr[-2000:]}")
        if "speech_engine.dll" not in (work / "system.reg").read_text(errors="replace"):
            raise AssertionError(f"registry import failed ({imp.returncode}), the speech engine "
                                 f"is not registered:\n{imp.stderr[-2000:]}")
        (work / stamp_name).write_text(stamp)
        shutil.rmtree(TEMPLATE, ignore_errors=True)
        os.rename(work, TEMPLATE)
        log(f"prefix template ready in {time.monotonic() - started:.1f} s")
        return TEMPLATE


def copy_prefix(dst):
    """A private prefix: registry and small files copied, the large DLL trees
    hard-linked (Wine never writes there once the prefix is booted)."""
    src = ensure_prefix_template()
    heavy = ("drive_c/windows/system32/", "drive_c/windows/syswow64/",
             "drive_c/windows/winsxs/")

    def place(s, d):
        if os.path.relpath(s, src).startswith(heavy):
            try:
                os.link(s, d)
                return d
            except OSError:
                pass
        return shutil.copy2(s, d)

    # Shared lock: a template being remade is never copied half-way.
    with open(BUILD / "wine-prefix-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_SH)
        shutil.copytree(src, dst, symlinks=True, copy_function=place)
    if SPEECH_ENGINE.is_file():
        engine = Path(dst) / "drive_c" / SPEECH_ENGINE_IN_PREFIX
        engine.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(SPEECH_ENGINE, engine)
    return Path(dst)


# ---- the window inspector ----------------------------------------------------

# name: (source, extra compiler flags)
_TOOLS = {
    "wininfo.exe": ("wininfo.c", []),
    "playwav.exe": ("playwav.c", ["-municode", "-lwinmm"]),
    "trustca.exe": ("trustca.c", ["-municode", "-lcrypt32"]),
    "dlgctl.exe": ("dlgctl.c", ["-municode"]),
    "uiprobe.exe": ("uiprobe.c", ["-municode", "-lwinmm"]),
    "accprobe.exe": ("accprobe.c", ["-loleacc", "-lole32", "-loleaut32", "-luuid"]),
}


def ensure_tools():
    """Builds the small Windows helpers of the bed with MinGW-w64: wininfo.exe
    (lists windows and control texts), playwav.exe (plays a WAV through
    winmm), trustca.exe (adds a CA to the ROOT store) and dlgctl.exe (fills
    and presses a dialog's controls). Returns the tools folder."""
    TOOLS.mkdir(parents=True, exist_ok=True)
    cc = None
    for exe_name, (source, flags) in _TOOLS.items():
        src = HERE / "tools" / source
        exe = TOOLS / exe_name
        if exe.exists() and exe.stat().st_mtime >= src.stat().st_mtime:
            continue
        cc = cc or shutil.which("x86_64-w64-mingw32-gcc-posix") or \
            shutil.which("x86_64-w64-mingw32-gcc")
        if not cc:
            raise AssertionError("x86_64-w64-mingw32-gcc not found: run ./orva setup")
        tmp = TOOLS / f"{exe.stem}.{os.getpid()}.exe"
        r = subprocess.run([cc, "-O2", "-Wall", "-mconsole", "-o", str(tmp), str(src), *flags],
                           capture_output=True, text=True, timeout=300)
        if r.returncode != 0:
            raise AssertionError(f"building {exe_name} failed:\n{r.stderr}")
        os.replace(tmp, exe)
    return TOOLS


class Control:
    def __init__(self, hwnd, ident, cls, text):
        self.hwnd, self.id, self.cls, self.text = hwnd, ident, cls, text

    def __repr__(self):
        return f"<{self.cls} id={self.id} {self.text!r}>"


class Win32Window:
    def __init__(self, hwnd, pid, visible, cls, title, rect):
        self.hwnd, self.pid, self.visible = hwnd, pid, visible
        self.cls, self.title, self.rect = cls, title, rect
        self.children = []

    def texts(self):
        return [c.text for c in self.children]

    def __repr__(self):
        return f"<window {self.title!r} class={self.cls} vis={self.visible} {self.children}>"


_Q = r'"((?:[^"\\]|\\.)*)"'
_TOP_RE = re.compile(r"top (\S+) pid=(\d+) vis=(\d) class=" + _Q + " title=" + _Q +
                     r" rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)")
_CHILD_RE = re.compile(r"\s+child (\S+) id=(-?\d+) class=" + _Q + " text=" + _Q)


def _unescape(s):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), s)


def parse_wininfo(text):
    wins = []
    for line in text.splitlines():
        m = _TOP_RE.match(line)
        if m:
            wins.append(Win32Window(m.group(1), int(m.group(2)), m.group(3) == "1",
                                    _unescape(m.group(4)), _unescape(m.group(5)),
                                    tuple(int(m.group(i)) for i in range(6, 10))))
            continue
        m = _CHILD_RE.match(line)
        if m and wins:
            wins[-1].children.append(Control(m.group(1), int(m.group(2)),
                                             _unescape(m.group(3)), _unescape(m.group(4))))
    return wins
