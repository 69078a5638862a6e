#!/usr/bin/env python3
"""Mouth-to-ear latency of the voice path, client A -> orva-relay -> client B,
both clients under Wine, each with its own display, PulseAudio daemon and
prefix; and the clients' CPU use while listening and while talking.

A holds the talk key for the whole run while short tone bursts are played
into its sink, whose monitor is its microphone. The same monitor is recorded,
so a burst's onset there is the "mouth"; its onset in B's recorded sink is
the "ear". Both recordings are placed on the monotonic clock by sampling
their growth (the smallest lag seen is taken as the recording's offset).

Not a test: it prints figures and exits 0. Run it after building:
  ORVA_BUILD=build/native ORVA_DIST=dist/Orva-Lin python3 bench/voice_latency.py
"""

import argparse
import array
import math
import os
import statistics
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402

RELAY_BIN = harness.BUILD / "servers" / "relay" / "orva-relay"
RATE = harness.RECORD_RATE
TICKS = os.sysconf("SC_CLK_TCK")

# What the design cannot go below: the capture block fills (31.25 ms) and
# waits for the 10-ms capture poll, the relay hands it over on the next poll
# (10 ms at pace 0), and playback queues it behind the one 125-ms buffer
# already on the device (the FIFO slot it lands in can add up to another
# cycle on top of that).
BLOCK_MS = 31.25
CAPTURE_POLL_MS = 10
RELAY_POLL_MS = 10
PLAYOUT_BUFFER_MS = 125
FLOOR_MS = BLOCK_MS + CAPTURE_POLL_MS + RELAY_POLL_MS + PLAYOUT_BUFFER_MS
WORST_FIFO_MS = PLAYOUT_BUFFER_MS   # a block that just missed a cycle waits one more


class Clock:
    """Maps a recorder's frame marks to time.monotonic()."""

    def __init__(self, recorder):
        self.recorder = recorder
        self.offset = math.inf
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop:
            t = time.monotonic()
            lag = t - self.recorder.mark() / RATE
            self.offset = min(self.offset, lag)
            time.sleep(0.005)

    def stop(self):
        self._stop = True
        self._thread.join()

    def wall(self, frame):
        return self.offset + frame / RATE


def bursts_wav(path, count, period, burst, hz=1000, rate=48000, lead=0.5):
    pcm = array.array("h")
    total = int(rate * (lead + count * period + 0.5))
    for i in range(total):
        t = i / rate - lead
        k = math.floor(t / period) if t >= 0 else -1
        inside = 0 <= k < count and (t - k * period) < burst
        s = int(12000 * math.sin(2 * math.pi * hz * t)) if inside else 0
        pcm.extend((s, s))
    return harness.write_wav(path, pcm, 2, rate)


def onsets(recorder, start, end, threshold=1500, window_ms=2, gap=0.25):
    """Frames where the recording turns loud after at least `gap` s of quiet."""
    step = RATE * window_ms // 1000
    samples = recorder.samples(start, end)
    found, last_loud = [], -math.inf
    for i in range(0, len(samples) - step, step):
        chunk = samples[i:i + step]
        if max(abs(x) for x in chunk) >= threshold:
            if (i - last_loud) / RATE > gap:
                found.append(start + i)
            last_loud = i
    return found


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def cpu_percent(pid, seconds):
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return 100 * (cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def start_client(bed, relay_addr, account):
    folder = bed.program_folder()
    client = bed.launch(folder / harness.CLIENT_EXE, folder, name="Orva-Lin",
                        extra_env={"ORVALIN_RELAY": relay_addr, "ORVALIN_ACCOUNT": str(account)})
    wid = bed.wait_window("ORVA-LIN", timeout=120)
    return client, wid


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bursts", type=int, default=24)
    ap.add_argument("--period", type=float, default=0.8, help="seconds between bursts")
    ap.add_argument("--burst", type=float, default=0.06, help="seconds of tone per burst")
    ap.add_argument("--cpu-seconds", type=float, default=10)
    args = ap.parse_args()
    if not RELAY_BIN.is_file():
        sys.exit(f"{RELAY_BIN} missing: build the native tree first")

    relay_addr = vp.private_loopback()
    with harness.Bed("bench_talker") as a, harness.Bed("bench_listener") as b:
        with open(a.root / "relay.log", "wb") as log_f:
            relay = harness.spawn([str(RELAY_BIN), "--bind", relay_addr, "--ctl", str(a.root / "relay.ctl")],
                                  env=dict(os.environ), stdout=log_f, stderr=log_f)
        try:
            talker, talker_wid = start_client(a, relay_addr, 201)
            listener, _ = start_client(b, relay_addr, 202)
            time.sleep(5)   # start-up chimes over, both polling

            idle = cpu_percent(listener.pid, args.cpu_seconds)
            clocks = Clock(a.recorder), Clock(b.recorder)
            time.sleep(0.5)
            wav = a.root / "bursts.wav"
            bursts_wav(wav, args.bursts, args.period, args.burst)
            a_start, b_start = a.recorder.mark(), b.recorder.mark()
            a.focus(talker_wid)
            a.xdo("keydown", "space")
            time.sleep(1.0)   # the capture device is open
            player = harness.spawn(["paplay", "--device=orva_sink", str(wav)],
                                   env=dict(os.environ, PULSE_SERVER=a.pulse_server))
            c_talk0, c_listen0, t0 = cpu_seconds(talker.pid), cpu_seconds(listener.pid), time.monotonic()
            player.wait(timeout=60 + args.bursts * args.period)
            time.sleep(1.5)
            dt = time.monotonic() - t0
            talking = 100 * (cpu_seconds(talker.pid) - c_talk0) / dt
            listening = 100 * (cpu_seconds(listener.pid) - c_listen0) / dt
            a.xdo("keyup", "space")
            for c in clocks:
                c.stop()

            mouth = [clocks[0].wall(f) for f in onsets(a.recorder, a_start, a.recorder.mark())]
            ear = [clocks[1].wall(f) for f in onsets(b.recorder, b_start, b.recorder.mark())]
            pairs = []
            for m in mouth:   # each burst's first arrival within one period
                later = [e for e in ear if 0 < e - m < args.period]
                if later:
                    pairs.append(1000 * (later[0] - m))
            print(f"bursts played {args.bursts}, heard at the mouth {len(mouth)}, matched at the ear {len(pairs)}")
            if len(pairs) >= 2:
                q = statistics.quantiles(pairs, n=20)
                print(f"mouth-to-ear latency, ms: median {statistics.median(pairs):.0f}, "
                      f"min {min(pairs):.0f}, p5 {q[0]:.0f}, p95 {q[-1]:.0f}, max {max(pairs):.0f}, "
                      f"stdev {statistics.stdev(pairs):.0f}")
                print("  all:", " ".join(f"{p:.0f}" for p in pairs))
            print(f"design floor, ms: {FLOOR_MS:.0f} (block {BLOCK_MS}, capture poll {CAPTURE_POLL_MS}, "
                  f"relay poll {RELAY_POLL_MS}, playout buffer {PLAYOUT_BUFFER_MS}); "
                  f"up to {FLOOR_MS + WORST_FIFO_MS:.0f} by the FIFO slot")
            print(f"client CPU (one core = 100%): listening idle {idle:.1f}%, "
                  f"listening to speech {listening:.1f}%, talking {talking:.1f}%")
        finally:
            harness.stop_child(relay)


if __name__ == "__main__":
    main()
