"""The Windows installer under Wine: a silent install into a fresh prefix puts
every file of the program folder, the Start-menu shortcuts, the uninstall
entry and the account number in place; the programs start from the installed
folder (the client polls the relay with the installed account number and
starts Talvo from its own folder); a
silent uninstall leaves no file, shortcut, uninstall entry or account behind."""

import os
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import voice_peer  # noqa: E402

VERSION = "0.7.5"
SETUP = harness.DIST.parent / f"Orva-Lin-Setup-{VERSION}.exe"
INSTALL = "C:\\Program Files\\Orva-Lin"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orva-Lin"
ACCOUNT = 4321
TITLE = "ORVA-LIN"
TALVO_TITLE = "Orva-Lin Synthétiseur vocal"
COMPANION_ZONE = (31, 24)     # the speech companion's picture on the panel
WITH_TALVO = (harness.DIST / harness.COMPANION_EXE).is_file()

bed = None


def setUpModule():
    global bed
    if not SETUP.is_file():
        raise AssertionError(f"{SETUP} is missing: run ./orva build")
    os.environ.pop("ORVALIN_ACCOUNT", None)    # the installed value must be the one seen
    bed = harness.Bed("test_installer")
    bed.__enter__()


def tearDownModule():
    harness.close_all(bed)


def drive_c():
    return bed.prefix / "drive_c"


def unix_path(windows_path):
    return drive_c() / windows_path[3:].replace("\\", "/")


def start_menu():
    return drive_c() / "ProgramData/Microsoft/Windows/Start Menu/Programs"


def reg_query(key, value):
    """A registry value's data as `reg query` prints it, or None."""
    r = harness.subprocess.run(["wine", "reg", "query", key, "/v", value], env=bed.env(),
                               capture_output=True, timeout=harness.scaled(60))
    for line in r.stdout.decode("utf-8", errors="replace").splitlines():
        parts = line.split(None, 2)
        if r.returncode == 0 and len(parts) == 3 and parts[0] == value:
            return parts[2].strip()
    return None


def command_line(pid):
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def read_shortcut(path):
    """(target, working folder) of a .lnk: LinkInfo's local path and the
    WORKING_DIR string."""
    data = path.read_bytes()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:                                  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x02:                                  # HasLinkInfo
        size, header = struct.unpack_from("<II", data, at)
        local = struct.unpack_from("<I", data, at + 16)[0]
        if header >= 0x24:
            wide = struct.unpack_from("<I", data, at + 28)[0]
            end = data.index(b"\0\0", at + wide)
            end += (end - (at + wide)) % 2
            target = data[at + wide:end].decode("utf-16-le")
        else:
            target = data[at + local:data.index(b"\0", at + local)].decode("cp1252")
        at += size
    unicode = flags & 0x80
    strings = {}
    for bit, name in ((0x04, "name"), (0x08, "relative"), (0x10, "workdir"), (0x20, "args"),
                      (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            width = 2 if unicode else 1
            raw = data[at + 2:at + 2 + count * width]
            strings[name] = raw.decode("utf-16-le" if unicode else "cp1252").rstrip("\0")
            at += 2 + count * width
    return target, strings.get("workdir")


class Installer(unittest.TestCase):
    """Ordered: install, run, uninstall."""

    def test_1_silent_install(self):
        self.assertFalse(unix_path(INSTALL).exists(), "the prefix is not fresh")
        code = bed.run(SETUP, cwd=SETUP.parent, args=["/S", f"/ACCOUNT={ACCOUNT}"], timeout=180)
        self.assertEqual(code, 0)
        installed = {p.name for p in unix_path(INSTALL).iterdir()}
        self.assertEqual(installed, {p.name for p in harness.DIST.iterdir()} | {"uninstall.exe"})
        for name in installed - {"uninstall.exe"}:
            self.assertEqual((unix_path(INSTALL) / name).read_bytes(),
                             (harness.DIST / name).read_bytes(), name)

        programs = ["Orva-Lin.exe"] + (["Talvo.exe"] if WITH_TALVO else [])
        for exe in programs:
            with self.subTest(shortcut=exe):
                target, workdir = read_shortcut(start_menu() / exe.replace(".exe", ".lnk"))
                self.assertEqual(target.lower(), f"{INSTALL}\\{exe}".lower())
                self.assertEqual(workdir.rstrip("\\").lower(), INSTALL.lower())

        for value, want in (("DisplayName", "Orva-Lin"), ("DisplayVersion", VERSION),
                            ("Publisher", "Orva-Lin"),
                            ("UninstallString", f'"{INSTALL}\\uninstall.exe"'),
                            ("QuietUninstallString", f'"{INSTALL}\\uninstall.exe" /S')):
            with self.subTest(value=value):
                self.assertEqual(reg_query(UNINSTALL_KEY, value), want)
        self.assertEqual(reg_query(r"HKCU\Environment", "ORVALIN_ACCOUNT"), str(ACCOUNT))

    def test_2_client_starts_from_installed_folder_with_the_account(self):
        relay = voice_peer.ScriptedRelay(voice_peer.private_loopback())
        self.addCleanup(relay.close)
        target, workdir = read_shortcut(start_menu() / "Orva-Lin.lnk")
        client = bed.launch(unix_path(target), cwd=unix_path(workdir), name="Orva-Lin",
                            extra_env={"ORVALIN_RELAY": relay.addr})
        self.addCleanup(client.stop)
        wid = bed.wait_window(TITLE, timeout=120)
        # The account entered at install time reaches the relay in every poll.
        poll = relay.wait_for("voice", lambda d: d[:2] == b"R." and len(d) in voice_peer.POLL_LENGTHS,
                              timeout=60, what="a poll")[2]
        self.assertEqual(struct.unpack_from("<H", poll, 3)[0], ACCOUNT)
        if WITH_TALVO:
            self.companion_starts_from_installed_folder(wid)
        bed.key(wid, "Escape")
        self.assertEqual(client.wait(30), 0)

    def companion_starts_from_installed_folder(self, client_wid):
        # Talvo binds the machine-wide companion port: wait until it is free.
        harness.UdpListener(harness.companion_port()).close()
        bed.click(client_wid, *COMPANION_ZONE)
        talvo_wid = bed.wait_window(TALVO_TITLE, timeout=120)
        # The client's notice, closed by a click on its OK button: Talvo's
        # window keeps the keyboard focus under Wine.
        box = bed.wait_window("Information", timeout=30)
        _, _, width, height = bed.geometry(box)
        bed.click(box, width // 2, height - 23)
        bed.wait_no_window("Information", timeout=30)
        running = [c for c in map(command_line, bed.leftovers()) if "talvo.exe" in c.lower()]
        self.assertEqual(len(running), 1, running)
        self.assertTrue(running[0].lower().startswith(f"{INSTALL}\\talvo.exe".lower()), running[0])
        _, _, width, _ = bed.geometry(talvo_wid)
        bed.click(talvo_wid, width - 12, 11)           # the caption's close button
        bed.wait_no_window(TALVO_TITLE, timeout=30)

    def test_3_silent_uninstall_leaves_nothing(self):
        uninstaller = unix_path(INSTALL) / "uninstall.exe"
        self.assertTrue(uninstaller.is_file())
        # The uninstaller copies itself to the temporary folder and runs from
        # there, so that it can remove itself: wait for the folder to go.
        bed.run(uninstaller, cwd=unix_path(INSTALL).parent, args=["/S"], timeout=60)
        harness.poll(lambda: not unix_path(INSTALL).exists(), 60, what="the program folder to go")
        self.assertEqual(sorted(p.name for p in start_menu().glob("*.lnk")
                                if p.stem in ("Orva-Lin", "Talvo")), [])
        self.assertIsNone(reg_query(UNINSTALL_KEY, "DisplayName"))
        self.assertIsNone(reg_query(r"HKCU\Environment", "ORVALIN_ACCOUNT"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
