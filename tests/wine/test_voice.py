"""Orva-Lin.exe under Wine on the voice network: what it sends to the relay
(greetings, polls at the relay's pace, voice while the talk key or the
companion's 'T' holds), what it plays of the relay's audio, whom it
believes, the supervisor's closing notices, and two clients talking through
the reference relay. Observed from outside only: datagrams on loopback and
the sound recorded from the PulseAudio sink."""

import os
import shutil
import subprocess
import sys
import threading
import time
import unittest
import array
import math
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402
from test_panel import XScreen, test_hooks_exe  # noqa: E402

TITLE = "ORVA-LIN"
NOTICE_TITLE = "Info du Superviseur"
UPDATE_TEXT = "Votre application doit être mise à jour"
CLOSE_TEXT = "Le superviseur va fermer\nautomatiquement votre application\ndans 20 secondes"
ACCOUNT = 4321

# The panel's SERVER LOAD lamps: five 14-pixel LEDs from (420, 220), 18 apart.
LOAD_LED_X, LOAD_LED_Y, LOAD_LED_PITCH, LED_SIZE = 420, 220, 18, 14
# The member count next to "CHANNEL": x, y, width, height.
COUNT_BOX = (160, 168, 30, 16)
LENS = {"red": (255, 40, 30), "green": (40, 235, 60), "yellow": (255, 215, 30),
        "blue": (40, 120, 255), "dark blue": (14, 36, 120), "dark red": (120, 14, 10)}

bed = None
companion = None   # stands in for Talvo on 127.0.0.1:5555


def setUpModule():
    global bed, companion
    companion = harness.UdpListener(harness.companion_port())
    bed = harness.open_client_bed("test_voice")


def tearDownModule():
    harness.close_all(bed, companion)


def write_tone_wav(path, hz, seconds, rate=48000, amplitude=10000):
    pcm = array.array("h")
    for i in range(int(rate * seconds)):
        s = int(amplitude * math.sin(2 * math.pi * hz * i / rate))
        pcm.extend((s, s))
    return harness.write_wav(path, pcm, 2, rate)


def play_into_sink(a_bed, hz, seconds):
    """Plays a tone into the bed's null sink; its monitor is the default
    source, so the client's microphone hears it."""
    path = write_tone_wav(a_bed.root / f"tone-{hz}.wav", hz, seconds)
    env = dict(os.environ, PULSE_SERVER=a_bed.pulse_server)
    return harness.spawn(["paplay", "--device=orva_sink", str(path)], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def led_colour(img, x, y):
    """Name of the lens colour nearest to the mean of an LED's centre."""
    px = img.region(x + 4, y + 4, x + LED_SIZE - 4, y + LED_SIZE - 4)
    mean = tuple(sum(p[i] for p in px) / len(px) for i in range(3))
    return min(LENS, key=lambda k: sum((a - b) ** 2 for a, b in zip(LENS[k], mean)))


def tone_frequency(samples, rate):
    return harness.dft_peak(samples[:rate // 5], rate, 200, 2000, 5)


class VoiceClient(unittest.TestCase):
    """Each test runs its own client against its own scripted relay."""

    def setUp(self):
        self.relay = vp.ScriptedRelay(vp.private_loopback())
        self.addCleanup(self.relay.close)

    def start_client(self, a_bed=None, relay_addr=None, account=ACCOUNT, prefix=None):
        client = vp.launch_client(a_bed or bed, relay_addr or self.relay.addr, account, prefix)
        self.addCleanup(client.stop)
        return client

    def start_running(self):
        companion.drain()
        client = self.start_client()
        voice_addr = self.relay.client_voice_address()
        wid = bed.wait_window(TITLE, timeout=60)
        # The greeting to the companion comes last in start-up.
        greeting = harness.poll(lambda: companion.recv(0.5), 60, what="the companion greeting")
        vp.settle(bed)
        return client, wid, voice_addr, greeting[1]

    def load_leds(self, wid):
        x, y, _, _ = bed.geometry(wid)
        img = bed.screen()
        return [led_colour(img, x + LOAD_LED_X + LOAD_LED_PITCH * i, y + LOAD_LED_Y) for i in range(5)]

    # ---- what the client sends ------------------------------------------------

    def test_greets_and_polls_n_d_v_at_the_relays_pace(self):
        client, wid, voice_addr, _ = self.start_running()
        list_addr = self.relay.client_list_address()
        hellos = self.relay.seen(0, "voice", lambda d: len(d) in (vp.HELLO, vp.SUPERVISOR_HELLO))
        self.assertEqual([e[2] for e in hellos[:2]],
                         [b"T.WIN" + bytes(4), (b"T.WIN" + bytes(4)) * 2])
        self.assertNotEqual(voice_addr[1], list_addr[1])

        polls = harness.poll(lambda: (lambda p: p if len(p) >= 7 else None)(self.relay.polls()), 10,
                             what="seven polls")
        self.assertEqual([len(e[2]) for e in polls[:7]], [26, 27, 14, 26, 27, 14, 26])
        self.assertEqual(polls[0][2][9:25], b"NWIN.PSEUDO.WIN.")
        self.assertEqual(polls[2][2][9:], b"V075\x02")
        for _, _, d, src in polls[:6]:
            self.assertEqual(d[3] | d[4] << 8, ACCOUNT)
            self.assertEqual(src, voice_addr)

        # Nothing from the relay: 30 ms, and every SERVER LOAD lamp red.
        t = self.relay.now()
        time.sleep(2)
        self.assertAlmostEqual(self.relay.median_poll_interval(t, self.relay.now()), 0.030, delta=0.006)
        harness.poll(lambda: self.load_leds(wid) == ["red"] * 5, 10, what="five red SERVER LOAD lamps")

        # The relay's pace value sets the period: 0 -> 10 ms, 2 -> 20 ms.
        for pace, period, lamps in ((0, 0.010, ["green"] + ["dark blue"] * 4),
                                    (2, 0.020, ["dark blue"] * 2 + ["green"] + ["dark blue"] * 2)):
            with self.subTest(pace=pace):
                t = self.relay.now()
                stream = threading.Thread(target=self.relay.stream_keep_alive, args=(voice_addr, 2.5, pace))
                stream.start()
                time.sleep(1.0)
                shown = self.load_leds(wid)   # while the relay's datagrams flow
                stream.join()
                self.assertAlmostEqual(self.relay.median_poll_interval(t + 0.3, self.relay.now()), period,
                                       delta=0.004)
                self.assertEqual(shown, lamps)
        # Silence from the relay brings 30 ms back within about half a second.
        t = self.relay.now()
        time.sleep(2)
        self.assertAlmostEqual(self.relay.median_poll_interval(t + 1.0, self.relay.now()), 0.030, delta=0.006)

    def transmit_and_check(self, press, release, hz):
        """Holds transmission with press(), plays a tone into the input, and
        returns (voice datagrams, seconds from release to the last one)."""
        player = play_into_sink(bed, hz, 6)
        self.addCleanup(harness.stop_child, player)
        time.sleep(0.5)
        t_press = self.relay.now()
        press()
        harness.poll(lambda: len(self.relay.voice_datagrams(t_press)) >= 40, 20,
                     what="40 voice datagrams")
        t_release = self.relay.now()
        release()
        t_released = self.relay.now()
        time.sleep(1.5)
        sent = self.relay.voice_datagrams(t_press)
        after = [e[0] - t_released for e in sent if e[0] > t_released]
        polls_meanwhile = self.relay.polls(t_press, t_release)
        self.assertGreater(len(polls_meanwhile), 20, "polls go on while transmitting")
        return sent, after

    def check_voice(self, sent, first_seq):
        seqs = [e[2][1] for e in sent]
        expected = [(first_seq - 1 + i) % 255 + 1 for i in range(len(seqs))]
        self.assertEqual(seqs, expected)
        head = sent[0][2][:vp.PCM_OFFSET]
        self.assertEqual(head[0], ord("A"))
        self.assertEqual(head[2:], bytes([2, ACCOUNT & 0xFF, ACCOUNT >> 8, 0]) + b"NWIN-APP-Radio" + bytes(4))
        times = [e[0] for e in sent]
        gaps = sorted(b - a for a, b in zip(times, times[1:]))
        self.assertAlmostEqual(sum(gaps) / len(gaps), vp.BLOCK_SECONDS, delta=0.004)
        pcm = b"".join(e[2][vp.PCM_OFFSET:] for e in sent[8:])
        left = vp.left_channel(pcm)
        self.assertGreater(harness.rms(left), 2000)
        return tone_frequency(left, vp.RATE)

    def test_space_bar_sends_the_microphone_and_release_stops_it(self):
        _, wid, _, _ = self.start_running()
        sent, after = self.transmit_and_check(lambda: (bed.focus(wid), bed.xdo("keydown", "space")),
                                              lambda: bed.xdo("keyup", "space"), 700)
        self.assertAlmostEqual(self.check_voice(sent, 1), 700, delta=10)
        # The capture loop ends within one 10-ms pass of the key going up:
        # at most the block already recorded leaves after the release.
        self.assertLessEqual(len(after), 1, f"voice after release at {after}")
        self.assertTrue(all(a < 0.06 for a in after), after)

    def test_companion_t_and_r_switch_transmission(self):
        _, _, _, link = self.start_running()
        send = lambda b: companion.sock.sendto(b, link)  # noqa: E731
        sent, after = self.transmit_and_check(lambda: send(b"T"), lambda: send(b"R"), 900)
        self.assertAlmostEqual(self.check_voice(sent, 1), 900, delta=10)
        self.assertLessEqual(len(after), 1, f"voice after 'R' at {after}")
        # Only the first byte counts; other letters do nothing.
        t = self.relay.now()
        send(b"Xylophone")
        time.sleep(1)
        self.assertEqual(self.relay.voice_datagrams(t), [])
        send(b"Transmit")
        harness.poll(lambda: self.relay.voice_datagrams(t), 10, what="voice after 'Transmit'")
        time.sleep(0.3)
        send(b"Release")
        time.sleep(0.5)
        t = self.relay.now()
        time.sleep(1)
        self.assertEqual(self.relay.voice_datagrams(t), [])

    # ---- what the client plays and believes -------------------------------------

    def test_relay_tone_comes_out_of_the_sink(self):
        _, _, voice_addr, _ = self.start_running()
        since = bed.recorder.mark()
        self.relay.stream_tone(voice_addr, 1000, 2.0)
        start = bed.recorder.wait_sound(since, timeout=10)
        tone = bed.recorder.samples(start + harness.RECORD_RATE // 10, start + harness.RECORD_RATE // 10 * 6)
        self.assertGreater(harness.rms(tone), 3000)
        # The spectral peak, not zero crossings: a block that arrives late
        # leaves a 31-ms gap of silence, which shifts a crossing count but
        # not the pitch.
        self.assertAlmostEqual(tone_frequency(tone, harness.RECORD_RATE), 1000, delta=20)
        # When the relay falls silent the playout buffer runs dry into silence.
        time.sleep(1.0)
        quiet_from = bed.recorder.mark()
        time.sleep(1.0)
        self.assertLess(harness.rms(bed.recorder.samples(quiet_from, bed.recorder.mark())), 100)

    def test_datagrams_from_another_address_change_nothing(self):
        client, wid, voice_addr, _ = self.start_running()
        list_addr = self.relay.client_list_address()
        spoof_addr = vp.private_loopback(avoid=(self.relay.addr,))
        spoofer = vp.bind_udp(spoof_addr, vp.VOICE_PORT)
        self.addCleanup(spoofer.close)
        # Speech at pace 0, a member list and the closing notice, all from a
        # stranger that even uses the relay's port numbers.
        since = bed.recorder.mark()
        t = self.relay.now()
        spoofer.sendto(bytes([vp.KIND_LIST, 0, 1, 1, 0]), list_addr)
        spoofer.sendto(bytes([ord("A"), 1, vp.NOTICE_CLOSE]), list_addr)
        self.relay.stream_tone(voice_addr, 1000, 2.0, pace=0, sock=spoofer)
        spoofer.sendto(bytes([ord("A"), 1, vp.NOTICE_CLOSE]), list_addr)
        time.sleep(1.5)
        self.assertLess(harness.peak_rms(bed.recorder.samples(since, bed.recorder.mark()), 960), 100,
                        "spoofed speech was played")
        self.assertAlmostEqual(self.relay.median_poll_interval(t + 0.5, self.relay.now()), 0.030, delta=0.006,
                               msg="spoofed pace value was taken")
        self.assertEqual(self.load_leds(wid), ["red"] * 5)
        self.assertTrue(client.alive(), "a spoofed notice closed the client")
        self.assertEqual(bed.find_windows(NOTICE_TITLE), [])
        # The same speech from the relay's address is played.
        since = bed.recorder.mark()
        self.relay.stream_tone(voice_addr, 1000, 1.0)
        bed.recorder.wait_sound(since, timeout=10)

    def supervisor_replies(self, code):
        """Answers every supervisor request with `code` from now on."""
        self.relay.on_list = lambda d, src: (bytes([ord("A"), 1, code])
                                             if len(d) == 3 and d[:2] == b"A\x01" else None)

    def test_supervisor_codes_other_than_220_and_240_are_ignored(self):
        client, _, _, _ = self.start_running()
        for code in (0, 100, 221, 255):
            self.supervisor_replies(code)
            t = self.relay.now()
            self.relay.wait_for("list", lambda d: d[:2] == b"A\x01", 10, since=t, what="a supervisor request")
            self.relay.wait_for("list", lambda d: d[:2] == b"A\x01", 10, since=self.relay.now(),
                                what="the next supervisor request")
        self.assertTrue(client.alive())
        self.assertEqual(bed.find_windows(NOTICE_TITLE), [])

    def test_supervisor_240_closes_the_client(self):
        client, _, _, _ = self.start_running()
        self.supervisor_replies(vp.NOTICE_CLOSE)
        notice = bed.wait_win32(NOTICE_TITLE, timeout=30)
        self.assertIn(CLOSE_TEXT, notice.texts())
        # The notice would close itself after ten seconds; Return closes it now.
        bed.key(bed.wait_window(NOTICE_TITLE), "Return")
        self.assertEqual(client.wait(30), 0)

    def test_supervisor_220_asks_for_the_update_then_closes(self):
        client, _, _, _ = self.start_running()
        self.supervisor_replies(vp.NOTICE_UPDATE)
        box = bed.wait_win32(NOTICE_TITLE, timeout=30)
        self.assertIn(UPDATE_TEXT, box.texts())
        bed.key(bed.wait_window(NOTICE_TITLE), "Return")
        self.assertEqual(client.wait(30), 0)

    # ---- two members ----------------------------------------------------------------

    def start_reference_relay(self):
        """orva-relay on an address of its own, in place of the scripted one."""
        self.relay.close()
        relay_addr, server = vp.start_reference_relay(bed)
        self.addCleanup(harness.stop_child, server)
        return relay_addr

    def test_lists_stay_fresh_over_a_minute_with_the_reference_relay(self):
        relay_addr = self.start_reference_relay()
        client = self.start_client(bed, relay_addr, account=111)
        wid = bed.wait_window(TITLE, timeout=90)
        cost = harness.udp_datagram_cost()
        deepest = {}
        started = time.monotonic()
        while time.monotonic() - started < 62:
            for sock, queued in harness.udp_receive_queues(client.pid).items():
                deepest[sock] = max(deepest.get(sock, 0), queued)
            time.sleep(0.1)
        harness.log(f"deepest receive queues over 62 s, in datagrams: "
                    f"{ {k: v / cost for k, v in deepest.items()} }")
        self.assertTrue(deepest, "no UDP socket of the client found")
        # A list cycle's two replies wait out the cycle's settling sleep together.
        self.assertLessEqual(max(deepest.values()), 2 * cost, deepest)

        # A member who joins the client's channel is counted within a pair of
        # list cycles (about 1.4 s) and the panel's next redraw.
        xs = XScreen(bed.display)
        self.addCleanup(xs.close)
        x, y, _, _ = bed.geometry(wid)
        count_at = lambda: xs.region(x + COUNT_BOX[0], y + COUNT_BOX[1], COUNT_BOX[2], COUNT_BOX[3])  # noqa: E731
        alone = count_at()
        member = vp.bind_udp(relay_addr, 0)
        self.addCleanup(member.close)
        joined = time.monotonic()
        poll_n = b"R.\0" + bytes([222, 0]) + bytes(4) + b"NWIN.PSEUDO.WIN.\0"

        def counted():
            member.sendto(poll_n, (relay_addr, vp.VOICE_PORT))
            return count_at() != alone
        harness.poll(counted, 10, interval=0.1, what="the panel's member count to change")
        delay = time.monotonic() - joined
        harness.log(f"member counted on the panel {delay:.1f} s after joining")
        self.assertLess(delay, 3.5)
        self.assertTrue(client.alive())

    def test_relay_close_under_the_inactivity_notice_ends_the_program(self):
        folder = bed.program_folder()
        shutil.copy2(test_hooks_exe(), folder / harness.CLIENT_EXE)
        client = bed.launch(folder / harness.CLIENT_EXE, folder, name="Orva-Lin-hooks",
                            extra_env={"ORVALIN_RELAY": self.relay.addr, "ORVALIN_ACCOUNT": str(ACCOUNT),
                                       "ORVA_TEST_INACTIVITY_SECONDS": "3"})
        self.addCleanup(client.stop)
        inactivity = bed.wait_window(NOTICE_TITLE, timeout=90)
        # The relay's 240 brings a second notice; closing it closes the main
        # window, and the inactivity notice with it.
        self.supervisor_replies(vp.NOTICE_CLOSE)
        close = harness.poll(lambda: ([w for w in bed.find_windows(NOTICE_TITLE) if w != inactivity] or [None])[0],
                             8, interval=0.1, what="the relay's closing notice")
        bed.key(close, "Return")
        self.assertEqual(client.wait(20), 0)

    def test_two_clients_talk_through_the_reference_relay(self):
        relay_addr = self.start_reference_relay()

        # The listener in the module's bed, the talker in a bed of its own:
        # each has its own display, sound server and prefix.
        talker_bed = harness.Bed("test_voice_talker")
        talker_bed.__enter__()
        self.addCleanup(talker_bed.__exit__, None, None, None)
        listener = self.start_client(bed, relay_addr, account=101)
        talker = self.start_client(talker_bed, relay_addr, account=102)
        talker_wid = talker_bed.wait_window(TITLE, timeout=90)
        bed.wait_window(TITLE, timeout=90)
        time.sleep(3)   # both are members once they have polled

        player = play_into_sink(talker_bed, 600, 8)
        self.addCleanup(harness.stop_child, player)
        time.sleep(0.5)
        since = bed.recorder.mark()
        talker_bed.focus(talker_wid)
        talker_bed.xdo("keydown", "space")
        try:
            start = bed.recorder.wait_sound(since, timeout=15)
            time.sleep(1.5)
        finally:
            talker_bed.xdo("keyup", "space")
        heard = bed.recorder.samples(start + harness.RECORD_RATE // 5, start + harness.RECORD_RATE)
        self.assertGreater(harness.rms(heard), 2000)
        # By the pitch peak: a late block's gap shifts zero crossings, not the pitch.
        self.assertAlmostEqual(tone_frequency(heard, harness.RECORD_RATE), 600, delta=15)
        self.assertTrue(listener.alive() and talker.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
