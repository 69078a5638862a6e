#!/usr/bin/env python3
"""Time of one talker-card fetch as Orva-Lin.exe sees it under Wine, against
orva-webhost over HTTPS.

When the member heard changes, the client's account refresh timer asks
the talker card's worker, which fetches the talker's picture (decoding it)
and then the talker's profile over HTTPS; the window draws them after. A plain TCP relay between
the client and the web host notes when bytes pass either way (Wine's WinHTTP
keeps connections open between requests, so connections alone say little).
A card fetch is one burst of traffic after a talker change: from the
client's first byte to the host's last, so it holds any TLS handshake, both
requests and answers, and between them the PNG decode; the drawing of the
card after the last answer is left out.
The relay itself adds a loopback hop each way.

Not a test: it prints figures and exits 0. Run it after building:
  ORVA_BUILD=build/native ORVA_DIST=dist/Orva-Lin python3 bench/talker_card_fetch.py
"""

import argparse
import select
import socket
import statistics
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402

OWN, TALKERS = 2001, (2002, 2003)
GROUP_GAP = 0.3   # traffic closer than this belongs to one card fetch


class TimingRelay:
    """Accepts on 127.0.0.1:<free port>, forwards to the web host, and keeps
    (time, from_client, bytes) for everything it forwards."""

    def __init__(self, target_port):
        self.target = ("127.0.0.1", target_port)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.events = []
        self.lock = threading.Lock()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._pipe, args=(conn,), daemon=True).start()

    def _pipe(self, client):
        upstream = socket.create_connection(self.target)
        for s in (client, upstream):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        peers = {client: upstream, upstream: client}
        try:
            while True:
                ready, _, _ = select.select(list(peers), [], [], 30)
                if not ready:
                    break
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        raise EOFError
                    peers[s].sendall(data)
                    with self.lock:
                        self.events.append((time.monotonic(), s is client, len(data)))
        except (EOFError, OSError):
            pass
        client.close()
        upstream.close()

    def take(self):
        with self.lock:
            events, self.events = sorted(self.events), []
        return events


def bursts(events):
    """[(start, end, bytes to the client)] of traffic separated by quiet gaps."""
    found = []
    for t, _, n in events:
        if found and t - found[-1][1] < GROUP_GAP:
            start, _, down = found[-1]
            found[-1] = (start, t, down + n)
        else:
            found.append((t, t, n))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--changes", type=int, default=12, help="talker changes to time")
    args = ap.parse_args()
    companion = harness.UdpListener(harness.companion_port())
    relay = vp.ScriptedRelay(vp.private_loopback())
    with harness.Bed("bench_talker_card") as bed:
        host = bed.start_web_host([(n, f"Membre{n}", "Lyon", "Bonjour", "204080") for n in (OWN, *TALKERS)])
        timing = TimingRelay(host.port)
        bed.start_client(extra_env={"ORVALIN_WEBHOST": f"localhost:{timing.port}",
                                    "ORVALIN_ACCOUNT": str(OWN), "ORVALIN_RELAY": relay.addr})
        bed.wait_window("ORVA-LIN", timeout=90)
        to = relay.client_voice_address()
        time.sleep(3)
        timing.take()   # start-up requests
        cards = []
        for i in range(args.changes):
            relay.stream_tone(to, 440, 0.3, talker=TALKERS[i % 2])
            time.sleep(1.7)   # the refresh timer ticks every second
            # The burst that carried a picture is the card fetch of this change.
            cards += [b for b in bursts(timing.take()) if b[2] > 1000][:1]
    relay.close()
    companion.close()
    if not cards:
        print("no talker-card fetch was seen")
        return 0
    ms = [(end - start) * 1000 for start, end, _ in cards]
    print(f"talker-card fetches timed: {len(ms)} of {args.changes} talker changes "
          f"({statistics.median([b[2] for b in cards]) / 1000:.1f} kB each to the client)")
    print(f"  one card fetch: median {statistics.median(ms):.1f} ms, min {min(ms):.1f}, max {max(ms):.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
