#!/usr/bin/env python3
"""How long a typed text takes to go out: from the click on Talvo's
"Envoyer" to the first block of its speech on the wire (the client's first
voice datagram that carries sound, seen by a scripted relay), and to its
first sound at a listener (a second client behind orva-relay, recorded from
its sink). Both under Wine with the bed's stand-in speech engine; each
client, Talvo included, in its own bed (display, sound server, prefix).

The design puts 1.5 s between Talvo's 'T' and its speech, so that the
client's capture is running when the speech starts; the rest is synthesis,
the sound server, the capture block and, for the listener, the relay and the
playout buffer.

Measured on the shared 2-core machine (load average about 11, 5 runs each):
Envoyer to the first block of speech on the wire, median 1651 ms (1629 to
1705); to the first sound at the listener, median 1877 ms (1868 to 2003).

Not a test: it prints figures and exits 0. Run it after building:
  ORVA_BUILD=build/native ORVA_DIST=dist/Orva-Lin python3 bench/talvo_latency.py
"""

import argparse
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
sys.path.insert(0, str(HERE))
import harness  # noqa: E402
import test_talvo as tt  # noqa: E402
import voice_peer as vp  # noqa: E402
from voice_latency import Clock  # noqa: E402

TEXT = "Un deux trois, ici Talvo"


def start_pair(a_bed, relay_addr, account):
    """Client and Talvo in a_bed; returns (client window, Talvo window)."""
    vp.launch_client(a_bed, relay_addr, account)
    wid = a_bed.wait_window(tt.CLIENT_TITLE, timeout=90)
    vp.settle(a_bed)
    since = a_bed.recorder.mark()
    tt.launch_talvo(a_bed)
    twid = a_bed.wait_window(tt.TITLE, timeout=60)
    tt.wait_spoken(a_bed, since, (tt.GREETING,) + tt.HINTS)
    return wid, twid


def click_send(a_bed, wid, twid):
    """Types the text, links Talvo by a right click in the client, then
    clicks "Envoyer"; returns the time of the click."""
    tt.click_client_area(a_bed, twid, tt.EDITOR)
    a_bed.type_text(twid, TEXT)
    tt.link(a_bed, lambda: a_bed.click(wid, *tt.CLIENT_EMPTY_SPOT, button=3))
    a_bed.move_mouse(twid, tt.FRAME[0] + tt.SEND[0], tt.FRAME[1] + tt.SEND[1])
    t0 = time.monotonic()
    a_bed.xdo("click", 1)
    return t0


def speech_over(a_bed, timeout=30):
    harness.poll(lambda: tt.editor_text(a_bed) == "", timeout, what="the editor to be cleared")
    time.sleep(1.0)


def summary(name, values):
    ms = [1000 * v for v in values]
    if not ms:
        return f"{name}: no measure"
    return (f"{name}, ms: median {statistics.median(ms):.0f}, min {min(ms):.0f}, max {max(ms):.0f} "
            f"({len(ms)} runs: {' '.join(f'{m:.0f}' for m in ms)})")


def on_the_wire(runs):
    relay = vp.ScriptedRelay(vp.private_loopback())
    keyed, spoken = [], []
    try:
        with harness.Bed("bench_talvo_wire") as a:
            wid, twid = start_pair(a, relay.addr, 301)
            for _ in range(runs):
                t0 = click_send(a, wid, twid)
                speech_over(a)
                sent = relay.voice_datagrams(t0)
                loud = [t for t, _, d, _ in sent if harness.rms(vp.left_channel(d[vp.PCM_OFFSET:])) > 500]
                if sent:
                    keyed.append(sent[0][0] - t0)
                if loud:
                    spoken.append(loud[0] - t0)
    finally:
        relay.close()
    return keyed, spoken


def at_the_listener(runs):
    heard = []
    with harness.Bed("bench_talvo_talker") as a, harness.Bed("bench_talvo_listener") as b:
        relay_addr, server = vp.start_reference_relay(a)
        try:
            vp.launch_client(b, relay_addr, 402)
            b.wait_window(tt.CLIENT_TITLE, timeout=90)
            wid, twid = start_pair(a, relay_addr, 401)
            clock = Clock(b.recorder)
            time.sleep(0.5)
            for _ in range(runs):
                mark, mark_a = b.recorder.mark(), a.recorder.mark()
                t0 = click_send(a, wid, twid)
                try:
                    start = b.recorder.wait_sound(mark, timeout=20, threshold=500, window_ms=5)
                except AssertionError as e:
                    members = harness.subprocess.run([str(vp.RELAY_BIN), "ctl", "--ctl", str(a.root / "relay.ctl"),
                                                      "members"], capture_output=True, text=True).stdout
                    talker_heard = harness.tone_bursts(a.recorder.samples(mark_a, a.recorder.mark()), harness.RECORD_RATE)
                    raise AssertionError(f"{e}; relay members: {members!r}; talker's sink: "
                                         f"{harness.collapse(talker_heard)}") from None
                heard.append(clock.wall(start) - t0)
                speech_over(a)
            clock.stop()
        finally:
            harness.stop_child(server)
    return heard


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--listener-only", action="store_true")
    args = ap.parse_args()
    if not args.listener_only:
        keyed, spoken = on_the_wire(args.runs)
        print(summary("Envoyer -> first voice datagram (client keyed by 'T')", keyed), flush=True)
        print(summary("Envoyer -> first block of speech on the wire", spoken), flush=True)
    heard = at_the_listener(args.runs)
    print(summary("Envoyer -> first sound at the listener", heard))


if __name__ == "__main__":
    main()
