"""The test bed itself, proved with Wine's own programs: if these fail, the
Wine tests of Orva-Lin cannot be trusted either way."""

import os
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

NOTEPAD = "C:\\windows\\notepad.exe"
NOTEPAD_TITLE = "Untitled - Notepad"


class BedTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bed = harness.Bed("test_bed")
        cls.bed.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.bed.__exit__(None, None, None)

    def test_exit_codes_come_back(self):
        for code in (0, 1, 7):
            with self.subTest(code=code):
                rc = self.bed.run("C:\\windows\\system32\\cmd.exe", args=["/c", "exit", str(code)])
                self.assertEqual(rc, code)

    def test_keys_reach_the_focused_wine_window(self):
        pad = self.bed.launch(NOTEPAD, cwd=self.bed.root)
        try:
            wid = self.bed.wait_window(NOTEPAD_TITLE)
            self.bed.key(wid, "o", "r", "v", "a", "shift+a")
            edit = harness.poll(
                lambda: next((c for w in self.bed.wininfo() if w.title == NOTEPAD_TITLE
                              for c in w.children if c.cls == "Edit" and c.text), None),
                20, what="text in Notepad's edit control")
            self.assertEqual(edit.text, "orvaA")
        finally:
            pad.stop()
        self.assertFalse(pad.alive())

    def test_screenshot_shows_the_window_where_x_says(self):
        pad = self.bed.launch(NOTEPAD, cwd=self.bed.root)
        try:
            wid = self.bed.wait_window(NOTEPAD_TITLE)
            x, y, w, h = self.bed.geometry(wid)
            self.assertEqual((w > 100, h > 100), (True, True))
            time.sleep(1)
            img = self.bed.screen()
            self.assertEqual((img.width, img.height), harness.SCREEN)
            # The edit area is white; the blue title-less frame of an
            # unmanaged window is not, so the middle must be white and a
            # point right of the window must differ from it.
            mid = img.pixel(x + w // 2, y + h // 2)
            self.assertEqual(mid, (255, 255, 255))
            white = img.count((x + w // 4, y + h // 4, x + 3 * w // 4, y + 3 * h // 4),
                              lambda p: p == (255, 255, 255))
            self.assertGreater(white, (w // 2) * (h // 2) * 9 // 10)
        finally:
            pad.stop()

    def test_wine_sound_reaches_the_recording(self):
        since = self.bed.recorder.mark()
        self.assertEqual(self.bed.play_wav("C:\\windows\\Media\\chimes.wav"), 0)
        start = self.bed.recorder.wait_sound(since, timeout=15)
        tone = self.bed.recorder.samples(start + harness.RECORD_RATE // 50,
                                         start + harness.RECORD_RATE // 4)
        self.assertGreater(harness.rms(tone), 1000)
        for estimate in (harness.zero_crossing_frequency(tone, harness.RECORD_RATE),
                         harness.dft_peak(tone[:4800], harness.RECORD_RATE, 200, 2000, 5)):
            self.assertAlmostEqual(estimate, harness.CHIME_HZ, delta=harness.CHIME_HZ * 0.02)

    def test_udp_from_another_loopback_address(self):
        listener = harness.UdpListener(0)
        try:
            port = listener.address[1]
            self.assertIn("127.0.0.1", harness.udp_local_addresses(port))
            src = harness.send_udp(b"ping", port, source="127.0.0.2")
            data, addr = listener.expect(b"ping", timeout=5)
            self.assertEqual(addr, src)
            self.assertEqual(addr[0], "127.0.0.2")
        finally:
            listener.close()

    def test_prefixes_are_separate_wineservers(self):
        other = self.bed.new_prefix()
        pad = self.bed.launch(NOTEPAD, cwd=self.bed.root)
        try:
            self.bed.wait_window(NOTEPAD_TITLE)
            self.bed.wait_win32(NOTEPAD_TITLE)
            self.assertNotIn(NOTEPAD_TITLE, [w.title for w in self.bed.wininfo(other)])
        finally:
            pad.stop()


class TeardownTest(unittest.TestCase):
    def test_teardown_leaves_nothing_running(self):
        bed = harness.Bed("test_teardown")
        with bed:
            bed.launch(NOTEPAD, cwd=bed.root)
            bed.wait_window(NOTEPAD_TITLE)
            servers = [p.pid for p in (bed.xvfb, bed.pulse, bed.parec)]
            self.assertTrue(bed.leftovers())
            root = bed.root
        self.assertEqual(bed.leftovers(), [])
        for pid in servers:
            self.assertFalse(Path(f"/proc/{pid}").exists() and
                             "Z" not in Path(f"/proc/{pid}/stat").read_text().split()[2],
                             f"process {pid} still running")
        if os.environ.get("ORVA_KEEP_BED") != "1":
            self.assertFalse(root.exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
