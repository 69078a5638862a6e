"""Talvo.exe under Wine with the bed's stand-in speech engine: its start-up
checks, speaking what the client sends, and "Envoyer" keying the client so
that a second member hears the typed text. Observed from outside only:
windows and their texts, the sound recorded from each bed's sink (the
engine's tone bursts tell texts apart), and the datagrams the client sends
to the relay."""

import array
import sys
import time
import wave
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402

TITLE = "Orva-Lin Synthétiseur vocal"
CLIENT_TITLE = "ORVA-LIN"
GREETING = "Bonjour. Le synthétiseur pour Orva-Lin est chargé."
MISSING = ("L'application Orva-Lin doit être lancée avant d'utiliser le synthétiseur. ",
           "Veuillez démarrer Orva-Lin et réessayer")
HINTS = ("Faire un clic droit sur la fenêtre de Orva-Lin ", "pour que le synthétiseur soit relié à Orva-Lin.")
NOTHING_HERE = "Il n'y a rien de spécial ici"
MISSING_TITLE = "Synthétiseur - Erreur"
MISSING_TEXT = "Veuillez démarrer Orva-Lin et réessayer."
SECOND_TITLE = "Orva-Lin System"
SECOND_TEXT = ("Another instance of application Orva-Lin Synthesizer\nis already running.\n"
               "Une autre instance de l\u2019application Synthétiseur pour Orva-Lin\n"
               "est déjà en cours d\u2019exécution.\n")
TYPED = "Bonjour tout le monde, ici Talvo"

# Talvo's window as Wine frames it: client origin inside the X window, and
# the controls in client coordinates.
FRAME = (3, 22)
EDITOR = (170, 40)
SEND = (170, 75)
CLIENT_EMPTY_SPOT = (275, 400)  # no zone of the client's window: "Il n'y a rien de spécial ici"
LEAD = 1.5                      # seconds between 'T' and the speech

bed = None


def setUpModule():
    global bed
    if not harness.SPEECH_ENGINE.is_file():
        raise AssertionError(f"{harness.SPEECH_ENGINE} is missing: run ./orva build")
    bed = harness.open_client_bed("test_talvo")


def tearDownModule():
    harness.close_all(bed)


def launch_talvo(a_bed, prefix=None, extra_env=None):
    folder = Path(a_bed.prefixes[0] if prefix is None else prefix) / "drive_c" / harness.INSTALL_DIR
    if not (folder / harness.COMPANION_EXE).is_file():
        folder = a_bed.program_folder(prefix=prefix)
    # Port 5555 is the machine's: wait until no other run holds it.
    harness.UdpListener(harness.companion_port()).close()
    return a_bed.launch(folder / harness.COMPANION_EXE, folder, prefix=prefix, name="Talvo", extra_env=extra_env)


def wait_spoken(a_bed, since, texts, timeout=60):
    """Waits until the sink has played the texts one after the other (the
    engine's burst pattern of each, in order); returns the frame mark where
    the recording has it all."""
    expected = [f for t in texts for f in harness.speech_engine_pattern(t)]
    found = []

    def heard():
        end = a_bed.recorder.mark()
        found[:] = harness.tone_bursts(a_bed.recorder.samples(since, end), harness.RECORD_RATE)
        return end if harness.holds_sequence(found, expected) else None
    try:
        return harness.poll(heard, timeout, interval=1.0, what=f"speech of {texts!r}")
    except AssertionError as e:
        raise AssertionError(f"{e}; heard {harness.collapse(found)}, "
                             f"expected {harness.collapse(expected)}") from None


def link(a_bed, say):
    """Links Talvo to a sender by say() (a right click in the client, or a
    datagram from a test socket) and returns once Talvo has spoken it and
    nothing else: port 5555 is the machine's, and another run's client
    greeting it in between would have relinked Talvo. Then "Envoyer" must
    follow at once."""
    for _ in range(5):
        since = a_bed.recorder.mark()
        say()
        done = wait_spoken(a_bed, since, (NOTHING_HERE,))
        time.sleep(0.5)   # a datagram read after it would be heard by now
        if harness.peak_rms(a_bed.recorder.samples(done, a_bed.recorder.mark()), harness.RECORD_RATE // 100) < 300:
            return
        harness.log("Talvo heard another sender meanwhile; linking again")
        vp.settle(a_bed, timeout=60)
    raise AssertionError("Talvo could not be linked: other senders keep greeting port 5555")


def click_client_area(a_bed, wid, point, button=1):
    a_bed.click(wid, FRAME[0] + point[0], FRAME[1] + point[1], button)


def editor_text(a_bed):
    window = a_bed.wait_win32(TITLE)
    return next(c.text for c in window.children if c.cls.upper() == "EDIT")


class Companion(unittest.TestCase):

    def start_pair(self, a_bed, relay_addr, account=7, extra_env=None):
        """The client, then Talvo once the client runs; returns (client's X
        window, Talvo, Talvo's X window) once Talvo has said its start-up
        texts (or, when speech is made to fail, once its window is up)."""
        client = vp.launch_client(a_bed, relay_addr, account)
        self.addCleanup(client.stop)
        wid = a_bed.wait_window(CLIENT_TITLE, timeout=90)
        vp.settle(a_bed)   # the client's chime is over
        since = a_bed.recorder.mark()
        talvo = launch_talvo(a_bed, extra_env=extra_env)
        self.addCleanup(talvo.stop)
        twid = a_bed.wait_window(TITLE, timeout=60)
        # Before its receive thread runs (after its start-up texts): unlinked.
        time.sleep(0.5)
        self.unlinked = a_bed.screen()
        if extra_env:
            # Nothing to hear: wait for its link socket instead.
            harness.poll(lambda: harness.udp_local_addresses(harness.companion_port()), 30,
                         what="Talvo's link socket")
        else:
            wait_spoken(a_bed, since, (GREETING,) + HINTS)
        return wid, talvo, twid

    def type_text(self, a_bed, twid, text):
        click_client_area(a_bed, twid, EDITOR)
        a_bed.type_text(twid, text)
        harness.poll(lambda: editor_text(a_bed) == text, 20, what="the typed text in the editor")

    def send(self, a_bed, twid):
        # Typed first, linked, then sent at once: port 5555 is the machine's,
        # and another run's client greeting it would relink Talvo.
        click_client_area(a_bed, twid, SEND)

    def test_without_the_client_it_speaks_the_notices_and_exits_1_and_a_second_copy_is_refused(self):
        since = bed.recorder.mark()
        first = launch_talvo(bed)
        self.addCleanup(first.stop)
        box = bed.wait_win32(MISSING_TITLE, timeout=90)
        self.assertIn(MISSING_TEXT, box.texts())
        wait_spoken(bed, since, (GREETING,) + MISSING, timeout=10)
        # The first copy holds its mutex while its notice is up.
        second = bed.launch(Path(first.popen.args[1]), name="Talvo")
        self.addCleanup(second.stop)
        refusal = bed.wait_win32(SECOND_TITLE, timeout=60)
        self.assertIn(SECOND_TEXT, refusal.texts())
        bed.key(bed.wait_window(SECOND_TITLE), "Return")
        self.assertEqual(second.wait(30), 1)
        self.assertTrue(first.alive())
        bed.key(bed.wait_window(MISSING_TITLE), "Return")
        self.assertEqual(first.wait(30), 1)

    def relink_to_probe(self):
        """Makes a socket of the test Talvo's peer, as the client's right
        click would: it then receives the 'T' and 'R' itself."""
        probe = harness.UdpListener(0)
        self.addCleanup(probe.close)
        link(bed, lambda: probe.send(NOTHING_HERE.encode("cp1252"), ("127.0.0.1", harness.companion_port())))
        return probe

    def test_right_click_links_talvo_and_envoyer_keys_the_client_around_the_speech(self):
        wid, talvo, twid = self.start_pair(bed, vp.private_loopback())
        x, y, w, h = bed.geometry(twid)
        bottom = y + h - 3
        boxes = ((bottom - 60, bottom - 50), (bottom - 45, bottom - 10))   # "IP: ..." and "PORT: ..."

        def box(image, top, bot):
            return image.region(x + FRAME[0] + 10, top, x + w - FRAME[0] - 200, bot)

        def ink(image, top, bot):
            return sum(1 for p in box(image, top, bot) if sum(p) < 200)
        link(bed, lambda: bed.click(wid, *CLIENT_EMPTY_SPOT, button=3))
        # Linked: the loopback address and the client's port are drawn, more
        # ink in both boxes than "IP: " and "PORT: 0".
        linked = bed.screen()
        for top, bot in boxes:
            self.assertGreater(ink(linked, top, bot), ink(self.unlinked, top, bot) + 20)

        self.type_text(bed, twid, TYPED)
        probe = self.relink_to_probe()
        # Another sender on the same address: the same address, another port.
        relinked = bed.screen()
        self.assertEqual(box(relinked, *boxes[0]), box(linked, *boxes[0]))
        self.assertNotEqual(box(relinked, *boxes[1]), box(linked, *boxes[1]))
        self.send(bed, twid)
        got = probe.recv(10)
        keyed = bed.recorder.mark()
        self.assertEqual(got and got[0], b"T")
        got = probe.recv(30)
        released = bed.recorder.mark()
        self.assertEqual(got and got[0], b"R")
        rate = harness.RECORD_RATE
        start = bed.recorder.wait_sound(keyed, timeout=1)
        # Not before the lead is over (the recording places sound within about
        # 0.1 s); late only by what synthesis and the sound server add.
        self.assertTrue(LEAD - 0.2 <= (start - keyed) / rate <= LEAD + 0.5, (start - keyed) / rate)
        step = rate // 100
        tail = bed.recorder.samples(released - rate, released + rate // 2)
        loud = [i for i in range(0, len(tail) - step, step) if harness.rms(tail[i:i + step]) > 300]
        self.assertTrue(loud, "no speech in the last second before 'R'")
        after_end = 1.0 - loud[-1] / rate
        harness.log(f"'T' -> speech {(start - keyed) / rate:.3f} s; end of speech -> 'R' {after_end:.3f} s")
        self.assertTrue(0 <= after_end < 0.6, f"'R' {after_end:.3f} s after the end of the speech")
        heard = harness.tone_bursts(bed.recorder.samples(keyed, released), rate)
        self.assertTrue(harness.holds_sequence(heard, harness.speech_engine_pattern(TYPED)),
                        f"not the typed text: {harness.collapse(heard)}")
        harness.poll(lambda: editor_text(bed) == "", 10, what="the editor to be cleared")
        self.assertTrue(talvo.alive())
        self.typed_text_goes_first_and_closing_mid_speech_releases_the_client(talvo, twid, probe)

        # The last utterance stays in the temporary folder: the whole WAV and
        # its bare samples.
        folder = next((bed.prefix / "drive_c" / "users").rglob("talvo_sound.wav")).parent
        self.assertEqual(folder.name, "Orva-Lin")
        with wave.open(str(folder / "talvo_sound.wav")) as w:
            samples = w.readframes(w.getnframes())
            rate = w.getframerate()
        self.assertEqual((folder / "audio_output.raw").read_bytes(), samples)
        pcm = array.array("h", samples)
        self.assertTrue(harness.holds_sequence(harness.tone_bursts(pcm, rate),
                                               harness.speech_engine_pattern(TYPED)))

    def typed_text_goes_first_and_closing_mid_speech_releases_the_client(self, talvo, twid, probe):
        long_text = " ".join([TYPED] * 6)   # its first bursts are TYPED's; about 6 s of speech
        self.type_text(bed, twid, long_text)
        since = bed.recorder.mark()
        for _ in range(3):
            probe.send(NOTHING_HERE.encode("cp1252"), ("127.0.0.1", harness.companion_port()))
        bed.recorder.wait_sound(since, timeout=10)   # the first of them is being spoken
        self.send(bed, twid)
        got = probe.recv(10)
        self.assertEqual(got and got[0], b"T")
        keyed = bed.recorder.mark()
        time.sleep(LEAD + 2.0)
        heard = harness.tone_bursts(bed.recorder.samples(keyed, bed.recorder.mark()), harness.RECORD_RATE)
        self.assertTrue(harness.holds_sequence(heard, harness.speech_engine_pattern(TYPED)),
                        f"the typed text did not come first: {harness.collapse(heard)}")
        self.assertFalse(harness.holds_sequence(heard, harness.speech_engine_pattern(NOTHING_HERE)))
        _, _, width, _ = bed.geometry(twid)
        bed.click(twid, width - 12, 11)           # the caption's close button, mid-utterance
        got = probe.recv(2)
        self.assertEqual(got and got[0], b"R")
        talvo.wait(15)

    def test_a_failed_utterance_still_releases_the_client_and_keeps_the_text(self):
        self.start_pair(bed, vp.private_loopback(), extra_env={"ORVA_TEST_SPEECH_FAIL": "1"})
        twid = bed.wait_window(TITLE)
        self.type_text(bed, twid, TYPED)
        probe = harness.UdpListener(0)
        self.addCleanup(probe.close)
        probe.send(b"x", ("127.0.0.1", harness.companion_port()))
        time.sleep(0.5)
        self.send(bed, twid)
        got = probe.recv(10)
        self.assertEqual(got and got[0], b"T")
        t = time.monotonic()
        got = probe.recv(10)
        self.assertEqual(got and got[0], b"R")
        self.assertAlmostEqual(time.monotonic() - t, LEAD, delta=0.5)
        self.assertEqual(editor_text(bed), TYPED)

    def test_a_second_member_hears_the_typed_text_through_the_reference_relay(self):
        relay_addr, server = vp.start_reference_relay(bed)
        self.addCleanup(harness.stop_child, server)
        talker_bed = harness.Bed("test_talvo_talker")
        talker_bed.__enter__()
        self.addCleanup(talker_bed.__exit__, None, None, None)
        listener = vp.launch_client(bed, relay_addr, 101)
        self.addCleanup(listener.stop)
        bed.wait_window(CLIENT_TITLE, timeout=90)
        talker_wid, _, twid = self.start_pair(talker_bed, relay_addr, account=102)
        self.type_text(talker_bed, twid, TYPED)
        link(talker_bed, lambda: talker_bed.click(talker_wid, *CLIENT_EMPTY_SPOT, button=3))
        since = bed.recorder.mark()
        self.send(talker_bed, twid)
        wait_spoken(bed, since, (TYPED,), timeout=40)


if __name__ == "__main__":
    unittest.main(verbosity=2)
