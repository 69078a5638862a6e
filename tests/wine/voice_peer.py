"""A scripted relay for the voice tests and the latency bench: it listens
where the client believes the relay is, records every datagram with its
arrival time, and sends audio, list and supervisor datagrams back. Standard
library only; layouts come from common/protocol.h through the harness."""

import array
import math
import os
import random
import select
import socket
import struct
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

C = harness.protocol_constant
VOICE_PORT = C("kVoicePortBase")
LIST_PORT = VOICE_PORT + C("kListPortOffset")
DATAGRAM = C("kDatagramBytes")
PCM_OFFSET = C("kPcmOffset")
BLOCK = C("kPcmBlockBytes")
RATE = C("kSampleRate")
BLOCK_SECONDS = C("kBlockMicros") / 1e6
HELLO = C("kHelloBytes")
SUPERVISOR_HELLO = C("kSupervisorHelloBytes")
POLL_LENGTHS = {C("kPollNBytes"), C("kPollDBytes"), C("kPollDShortBytes"), C("kPollVBytes")}
KIND_AUDIO = ord("A")
KIND_LIST = ord("L")
CONTENT_SOUND = C("kContentSound")
CONTENT_SILENCE = C("kContentSilence")
CONTENT_KEEP_ALIVE = C("kContentKeepAlive")
NOTICE_UPDATE = C("kNoticeUpdate")
NOTICE_CLOSE = C("kNoticeClose")
FRAMES_PER_BLOCK = BLOCK // 4


def private_loopback(avoid=()):
    """A 127.x.y.z address of its own, so several test runs (and anything
    bound on 127.0.0.1) never meet on the relay ports."""
    rng = random.Random(os.getpid() ^ time.monotonic_ns())
    while True:
        addr = f"127.{rng.randrange(1, 255)}.{rng.randrange(0, 256)}.{rng.randrange(2, 255)}"
        if addr not in avoid:
            return addr


def tone_block(hz, index, amplitude=12000, rate=RATE):
    """Block `index` of a continuous stereo tone: 250 frames of s16le."""
    pcm = array.array("h")
    for f in range(FRAMES_PER_BLOCK):
        n = index * FRAMES_PER_BLOCK + f
        s = int(amplitude * math.sin(2 * math.pi * hz * n / rate))
        pcm.extend((s, s))
    if sys.byteorder != "little":
        pcm.byteswap()
    return pcm.tobytes()


def audio_datagram(seq, content=CONTENT_SOUND, pcm=b"", pace=0, talker=7, echo=0, kind=KIND_AUDIO):
    head = struct.pack("<BBbHbBB", kind, seq, echo, talker, pace, 0, content) + bytes(PCM_OFFSET - 8)
    return head + (pcm if content == CONTENT_SOUND else b"")


def left_channel(pcm_bytes):
    pcm = array.array("h")
    pcm.frombytes(pcm_bytes[:len(pcm_bytes) - len(pcm_bytes) % 4])
    if sys.byteorder != "little":
        pcm.byteswap()
    return pcm[0::2]


def bind_udp(addr, port, wait=20):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    deadline = time.monotonic() + wait
    while True:
        try:
            s.bind((addr, port))
            return s
        except OSError:
            if time.monotonic() > deadline:
                s.close()
                raise
            time.sleep(0.3)


class ScriptedRelay:
    """Binds addr:30000+channel and addr:31000+channel and logs what arrives."""

    def __init__(self, addr, channel=0):
        self.addr = addr
        self.voice = bind_udp(addr, VOICE_PORT + channel)
        self.lists = bind_udp(addr, LIST_PORT + channel)
        self.log = []                 # (time, "voice"|"list", data, (host, port))
        self.lock = threading.Lock()
        self.on_list = None           # (data, addr) -> reply bytes or None
        self.seq = 0
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        socks = {self.voice: "voice", self.lists: "list"}
        while not self._stop:
            ready, _, _ = select.select(list(socks), [], [], 0.1)
            for s in ready:
                try:
                    data, src = s.recvfrom(65536)
                except OSError:
                    continue
                t = time.monotonic()
                with self.lock:
                    self.log.append((t, socks[s], data, src))
                handler = self.on_list
                if socks[s] == "list" and handler:
                    reply = handler(data, src)
                    if reply:
                        s.sendto(reply, src)

    def close(self):
        self._stop = True
        self._thread.join(timeout=2)
        self.voice.close()
        self.lists.close()

    def now(self):
        return time.monotonic()

    def seen(self, since=0.0, kind=None, test=None):
        with self.lock:
            return [e for e in self.log
                    if e[0] >= since and (kind is None or e[1] == kind) and (test is None or test(e[2]))]

    def wait_for(self, kind, test, timeout=60, since=0.0, what="datagram"):
        return harness.poll(lambda: (self.seen(since, kind, test) or [None])[0], timeout,
                            interval=0.05, what=what)

    def client_voice_address(self, timeout=90):
        """Where the client's voice socket is: the source of its 9-byte hello."""
        return self.wait_for("voice", lambda d: len(d) == HELLO, timeout, what="the voice hello")[3]

    def client_list_address(self, timeout=90):
        return self.wait_for("voice", lambda d: len(d) == SUPERVISOR_HELLO, timeout,
                             what="the supervisor hello")[3]

    def polls(self, since=0.0, until=None):
        return [e for e in self.seen(since, "voice", lambda d: d[:2] == b"R." and len(d) in POLL_LENGTHS)
                if until is None or e[0] < until]

    def voice_datagrams(self, since=0.0):
        return self.seen(since, "voice", lambda d: len(d) == DATAGRAM and d[0] == KIND_AUDIO)

    def median_poll_interval(self, since, until):
        times = [e[0] for e in self.polls(since, until)]
        gaps = sorted(b - a for a, b in zip(times, times[1:]))
        return gaps[len(gaps) // 2] if gaps else None

    def next_seq(self):
        self.seq = self.seq % 255 + 1
        return self.seq

    def send_audio(self, to, datagram, sock=None):
        (sock or self.voice).sendto(datagram, to)

    def stream(self, to, blocks, make, sock=None):
        """Sends make(i) for i in range(blocks), one every 31.25 ms."""
        start = time.monotonic()
        for i in range(blocks):
            self.send_audio(to, make(i), sock)
            delay = start + (i + 1) * BLOCK_SECONDS - time.monotonic()
            if delay > 0:
                time.sleep(delay)

    def stream_tone(self, to, hz, seconds, pace=0, talker=7, sock=None, amplitude=12000):
        blocks = int(seconds / BLOCK_SECONDS)
        self.stream(to, blocks, lambda i: audio_datagram(self.next_seq(), CONTENT_SOUND,
                                                         tone_block(hz, i, amplitude), pace, talker),
                    sock)

    def stream_keep_alive(self, to, seconds, pace):
        blocks = int(seconds / BLOCK_SECONDS)
        self.stream(to, blocks, lambda i: audio_datagram(self.next_seq(), CONTENT_KEEP_ALIVE, pace=pace))


POLL_N_BODY = b"NWIN.PSEUDO.WIN."


def poll_datagram(account):
    """An N poll of 26 bytes: 'R.', 0, the account (little-endian), four zeros,
    the N body and a zero."""
    return b"R.\x00" + struct.pack("<H", account) + b"\x00" * 4 + POLL_N_BODY + b"\x00"


class Members:
    """Members present on a relay: each account polls its channel from a socket
    of its own every 300 ms until it leaves (the relay drops it 2 s later)."""

    def __init__(self, relay_addr, placement):
        self.relay_addr = relay_addr
        self.socks = {}
        self.channels = {}
        self.lock = threading.Lock()
        self._stop = False
        for account, channel in placement.items():
            self.join(account, channel)
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def join(self, account, channel):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        with self.lock:
            self.socks[account] = s
            self.channels[account] = channel

    def leave(self, account):
        with self.lock:
            self.socks.pop(account).close()
            self.channels.pop(account)

    def _run(self):
        while not self._stop:
            with self.lock:
                for account, s in self.socks.items():
                    try:
                        s.sendto(poll_datagram(account), (self.relay_addr, VOICE_PORT + self.channels[account]))
                    except OSError:
                        pass
            time.sleep(0.3)

    def close(self):
        self._stop = True
        self._thread.join(timeout=2)
        with self.lock:
            for s in self.socks.values():
                s.close()
            self.socks.clear()
