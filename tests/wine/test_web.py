"""Orva-Lin.exe under Wine against the reference web host over HTTPS (the
prefix trusts the local CA; the client validates as Windows does): the
member's colour at start-up, the talker card when another member talks,
the parameters window storing a new colour, and the client without its web
host or with one that stalls. Observed from outside: screenshots, dialogs, the relay's datagrams and
what the web host serves afterwards."""

import socket
import struct
import sys
import time
import unittest
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402
import webhost  # noqa: E402

TITLE = "ORVA-LIN"
PARAMS_TITLE = "Orva-Lin Params"
NOTICE_TITLE = "Acquisition des paramètres"
OWN, TALKER, UNKNOWN, STRANGER = 1201, 1207, 1299, 1250
OWN_COLOUR = (0x20, 0x40, 0x80)
NEW_COLOUR = (10, 200, 30)
FACE = (230, 120, 20)

# Panel places: a spot no piece draws on, the talker's name line and the
# top-left of the talker picture.
BACKGROUND_SPOT = (295, 198, 305, 208)
NAME_LINE = (15, 320, 165, 339)
PICTURE_SPOT = (14, 344, 40, 370)
PARAMS_KNOB = (55, 250)
SWATCH = (60, 383, 75, 398)
COLOUR_DIALOG_CLASS = "#32770"
RED_EDIT, GREEN_EDIT, BLUE_EDIT, OK_BUTTON = 706, 707, 708, 1

bed = None
host = None
relay = None
companion = None


def solid_png(width, height, rgb):
    raw = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def mean(pixels):
    n = max(1, len(pixels))
    return tuple(sum(p[i] for p in pixels) / n for i in range(3))


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def setUpModule():
    global bed, host, relay, companion
    companion = harness.UdpListener(harness.companion_port())
    bed = harness.open_client_bed("test_web")
    face = bed.root / "face.png"
    face.write_bytes(solid_png(400, 300, FACE))
    host = bed.start_web_host([(OWN, "Renée", "Lyon", "Bonjour à tous", "%02X%02X%02X" % OWN_COLOUR),
                               (TALKER, "Zoé", "Nantes", "Salut", "000000")])
    if webhost.member(host.data, "set", TALKER, "--picture", face).returncode != 0:
        raise AssertionError("the talker's picture was refused")
    relay = vp.ScriptedRelay(vp.private_loopback())


def tearDownModule():
    harness.close_all(relay, bed, companion)


class WebClient(unittest.TestCase):
    client = None
    wid = None

    @classmethod
    def start(cls, account, web_host):
        if cls.client and cls.client.alive():
            bed.key(cls.wid, "Escape")
            cls.client.wait(30)
        cls.started = relay.now()
        cls.client = bed.start_client(extra_env={"ORVALIN_WEBHOST": web_host, "ORVALIN_ACCOUNT": str(account),
                                                 "ORVALIN_RELAY": relay.addr})
        cls.wid = bed.wait_window(TITLE, timeout=90)

    def voice_address(self):
        """The running client's voice socket, from its own hello."""
        return relay.wait_for("voice", lambda d: len(d) == vp.HELLO, since=self.started,
                              what="the voice hello")[3]

    def panel(self, shot, rect):
        ox, oy, _, _ = bed.geometry(self.wid)
        x0, y0, x1, y1 = rect
        return shot.region(ox + x0, oy + y0, ox + x1, oy + y1)

    def wait_panel(self, rect, predicate, what, timeout=20):
        last = []

        def look():
            last[:] = [mean(self.panel(bed.screen(), rect))]
            return predicate(last[0])
        try:
            harness.poll(look, timeout, interval=0.5, what=what)
        except AssertionError as e:
            raise AssertionError(f"{e}; last mean colour {last}") from None

    def notice_shown(self):
        return any(w.title == NOTICE_TITLE and w.visible for w in bed.wininfo())

    # -- with the member's web host --
    def test_1_start_up_takes_the_members_colour(self):
        self.start(OWN, host.address)
        self.wait_panel(BACKGROUND_SPOT, lambda c: harness.near(c, OWN_COLOUR, 12), "the member's colour")
        self.assertFalse(self.notice_shown())

    def test_2_talker_card_shows_the_talkers_picture_and_name_and_only_theirs(self):
        before = bed.screen()
        self.assertLess(sum(1 for p in self.panel(before, NAME_LINE) if min(p) > 200), 5)
        relay.stream_tone(self.voice_address(), 440, 1.0, talker=TALKER)
        self.wait_panel(PICTURE_SPOT, lambda c: harness.near(c, FACE, 20), "the talker's picture")
        shot = bed.screen()
        self.assertGreater(sum(1 for p in self.panel(shot, NAME_LINE) if min(p) > 200), 30,
                           "the talker's name is written in white")
        # A talker the host does not know: the old face does not stay.
        relay.stream_tone(self.voice_address(), 440, 1.0, talker=STRANGER)
        self.wait_panel(PICTURE_SPOT, lambda c: harness.near(c, OWN_COLOUR, 12), "the picture area cleared")

    def test_3_parameters_window_stores_a_new_colour_on_the_host(self):
        bed.click(self.wid, *PARAMS_KNOB)
        pwid = bed.wait_window(PARAMS_TITLE)
        # The client area is red; its top-left corner is found on the screen
        # once the window has unfolded.

        def client_origin():
            px, py, pw, ph = bed.geometry(pwid)
            if ph < 400:
                return None
            shot = bed.screen()
            top = next((y for y in range(py, py + ph) if shot.pixel(px + pw // 2, y) == (255, 0, 0)), None)
            if top is None:
                return None
            left = next(x for x in range(px, px + pw) if shot.pixel(x, top + 2) == (255, 0, 0))
            swatch = mean(shot.region(left + SWATCH[0] + 2, top + SWATCH[1] + 2,
                                      left + SWATCH[2] - 2, top + SWATCH[3] - 2))
            return (px, py, left, top, shot) if harness.near(swatch, OWN_COLOUR, 12) else None
        px, py, left, top, shot = harness.poll(client_origin, 20, interval=0.5, what="the swatch in the member's colour")
        first_name = shot.region(left + 10, top + 262, left + 190, top + 280)
        phrase = shot.region(left + 10, top + 302, left + 190, top + 320)
        self.assertGreater(sum(1 for p in first_name if min(p) > 220), 20, "the first name in white")
        self.assertGreater(sum(1 for p in phrase if p[0] > 220 and p[1] > 220 and p[2] < 60), 20,
                           "the phrase in yellow")

        bed.click(pwid, left - px + 67, top - py + 390)
        dialog = harness.poll(lambda: next((w for w in bed.wininfo()
                                            if w.cls == COLOUR_DIALOG_CLASS and w.visible), None),
                              20, interval=0.5, what="the colour dialog")
        for control, value in zip((RED_EDIT, GREEN_EDIT, BLUE_EDIT), NEW_COLOUR):
            bed.dialog(dialog.title, control, str(value))
        bed.dialog(dialog.title, OK_BUTTON)

        def stored():
            status, body = host.request(f"/users/{OWN}/params.xml")
            text = body.decode("utf-8", "replace")
            if status != 200 or "<BACKGROUND>" not in text:
                return None
            value = int(text.split("<BACKGROUND>")[1].split("<")[0].strip(), 16)
            return (value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF) == NEW_COLOUR
        harness.poll(stored, 20, interval=0.5, what="the new colour in params.xml")
        self.wait_panel(BACKGROUND_SPOT, lambda c: harness.near(c, NEW_COLOUR, 12), "the new colour on the panel")

        # The knob closes the window, and opens it again after that.
        bed.click(self.wid, *PARAMS_KNOB)
        bed.wait_no_window(PARAMS_TITLE)
        bed.click(self.wid, *PARAMS_KNOB)
        bed.wait_window(PARAMS_TITLE)

    # -- without it --
    def test_4_without_web_host_the_client_runs_on_silently(self):
        self.start(OWN, f"localhost:{closed_port()}")
        since = relay.now()
        relay.stream_tone(self.voice_address(), 440, 1.0, talker=TALKER)
        time.sleep(3)
        self.assertTrue(self.client.alive())
        self.assertFalse(self.notice_shown(), "a network failure shows nothing")
        self.assertGreater(len(relay.polls(since)), 20, "the client keeps polling the relay")
        shot = bed.screen()
        self.assertTrue(harness.near(mean(self.panel(shot, BACKGROUND_SPOT)), (0, 0, 0), 8))
        self.assertLess(sum(1 for p in self.panel(shot, NAME_LINE) if min(p) > 200), 5)

    def test_6_a_stalling_or_mute_host_never_holds_up_the_window(self):
        proxy = harness.DelayProxy(("127.0.0.1", host.port))
        channel_2 = vp.bind_udp(relay.addr, vp.VOICE_PORT + 2)
        self.addCleanup(proxy.close)
        self.addCleanup(channel_2.close)

        def polls_move(key):
            channel_2.settimeout(0)
            while True:
                try:
                    channel_2.recv(2048)
                except OSError:
                    break
            t = time.monotonic()
            bed.key(self.wid, key)
            channel_2.settimeout(5)
            try:
                channel_2.recv(2048)
            except OSError:
                return float("inf")
            return time.monotonic() - t

        # The talker picture stalls for 40 s: a channel key still acts at once.
        self.start(OWN, f"localhost:{proxy.port}")
        self.wait_panel(BACKGROUND_SPOT, lambda c: not harness.near(c, (0, 0, 0), 12), "the member's colour")
        proxy.delay = 40
        relay.stream_tone(self.voice_address(), 440, 1.0, talker=TALKER)
        time.sleep(1.5)   # the card's request is under way
        self.assertLess(polls_move("2"), 1.0)
        # Mute from the start: the greeting leaves within 15 s, keys work.
        companion.drain()
        launched = time.monotonic()
        self.start(OWN, f"localhost:{proxy.port}")
        self.assertIsNotNone(companion.recv(15 - (time.monotonic() - launched)), "no greeting within 15 s")
        harness.log(f"greeting {time.monotonic() - launched:.1f} s after launch with a mute host")
        self.assertLess(polls_move("2"), 1.0)

    def test_5_member_without_parameters_is_told_the_defaults_are_used(self):
        self.start(UNKNOWN, host.address)
        notice = bed.wait_win32(NOTICE_TITLE)
        self.assertIn("Aucun paramètre n'a été trouvé sur votre compte\nles paramètres par défaut seront utilisés.",
                      notice.texts())
        bed.key(bed.wait_window(NOTICE_TITLE), "Return")
        bed.wait_no_window(NOTICE_TITLE)
        self.assertTrue(self.client.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
