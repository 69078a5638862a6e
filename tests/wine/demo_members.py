"""Scripted demo members for ./orva demo and the soak bench: relay clients that
sit on a channel (polling like a client) and take turns saying short French
sentences, spoken by espeak-ng and sent as real voice datagrams.

    members = DemoMembers("127.0.0.1", channel=1)
    members.start(); ...; members.stop()

Run alone (python3 demo_members.py --relay ADDR) it talks until Ctrl-C."""

import argparse
import itertools
import random
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

C = harness.protocol_constant
VOICE_PORT = C("kVoicePortBase")
BLOCK = C("kPcmBlockBytes")
PCM_OFFSET = C("kPcmOffset")
RATE = C("kSampleRate")
BLOCK_SECONDS = C("kBlockMicros") / 1e6
PRESENCE_SECONDS = C("kPresenceTimeoutMs") / 1000
FLOOR_HOLD_SECONDS = C("kFloorHoldMs") / 1000
POLL_SECONDS = 0.03          # a client's slowest poll period
DEMO_CHANNEL = 1

# (account, espeak-ng voice, what they say). The accounts are two of the web
# host's demo members (tests/wine/webhost.py: Léa of Besançon, Mathéo of
# Nîmes), so the client shows their card when they talk.
MEMBERS = (
    (2, "fr+f3", ("Bonjour à tous, ici Léa, de Besançon.",
                  "Il fait beau aujourd'hui, on se retrouve au café ?",
                  "Je vous entends très bien, merci.",
                  "Qui vient à la sortie de dimanche ?")),
    (3, "fr+m3", ("Salut Léa, c'est Mathéo, depuis Nîmes.",
                  "Oui, je serai au café de la gare vers dix-huit heures.",
                  "Il fait beau dans le Gard aussi !",
                  "À tout à l'heure, bonne journée à vous.")),
)


def speech_pcm(text, voice, speed=150):
    """`text` spoken by espeak-ng, as the wire's PCM: 8 kHz, 16-bit little-endian
    stereo, padded with silence to whole blocks."""
    wav = subprocess.run(["espeak-ng", "-v", voice, "-s", str(speed), "--stdout", text],
                         capture_output=True, check=True, timeout=60).stdout
    raw = subprocess.run(["sox", "-q", "-t", "wav", "-", "-t", "raw", "-r", str(RATE), "-c", "2",
                          "-b", "16", "-e", "signed-integer", "-L", "-"],
                         input=wav, capture_output=True, check=True, timeout=60).stdout
    return raw + bytes(-len(raw) % BLOCK)


def voice_datagram(sequence, account, pcm):
    head = bytearray(PCM_OFFSET)
    head[0] = C("kKindAudio")
    head[C("kVoiceSequence")] = sequence
    head[C("kVoiceMarkerAt")] = C("kVoiceMarker")
    struct.pack_into("<H", head, C("kVoiceAccountLo"), account)
    head[C("kVoiceNAt")] = C("kVoiceN")
    tag = b"WIN-APP-Radio"
    head[C("kVoiceTagAt"):C("kVoiceTagAt") + len(tag)] = tag
    return bytes(head) + pcm


def poll_datagram(account):
    """The N poll: enough for the relay to count the member on the channel."""
    return b"R.\0" + struct.pack("<H", account) + bytes(4) + b"NWIN.PSEUDO.WIN.\0"


class Member:
    """One relay client on the channel: a socket that polls and, when asked,
    talks; what the relay sends back is read and dropped."""

    def __init__(self, relay, channel, account, voice, phrases):
        self.relay = (relay, VOICE_PORT + channel)
        self.account, self.voice, self.phrases = account, voice, phrases
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1" if relay.startswith("127.") else "0.0.0.0", 0))
        self.sock.setblocking(False)     # two threads may drain it
        self.sequence = 0
        self.blocks_sent = 0
        self.clips = {}

    def clip(self, text):
        if text not in self.clips:
            self.clips[text] = speech_pcm(text, self.voice)
        return self.clips[text]

    def poll(self):
        self.sock.sendto(poll_datagram(self.account), self.relay)
        try:
            while True:
                self.sock.recv(2048)
        except (BlockingIOError, InterruptedError):
            pass

    def say(self, pcm, stop):
        """Sends the blocks on the relay's 31.25-ms pace, polling between them."""
        start = time.monotonic()
        for i in range(0, len(pcm), BLOCK):
            if stop.is_set():
                return
            self.sequence = self.sequence % 255 + 1
            self.sock.sendto(voice_datagram(self.sequence, self.account, pcm[i:i + BLOCK]), self.relay)
            self.blocks_sent += 1
            self.poll()
            delay = start + (i // BLOCK + 1) * BLOCK_SECONDS - time.monotonic()
            if delay > 0:
                time.sleep(delay)

    def close(self):
        self.sock.close()


class DemoMembers:
    """The members of MEMBERS on one channel, talking in turn: a phrase, a
    pause of `pause` seconds (range), the next member's phrase, and so on.
    talk_share, when set, stretches the pauses so that someone talks about
    that share of the time (the soak bench uses 1/3)."""

    def __init__(self, relay, channel=DEMO_CHANNEL, members=MEMBERS, pause=(2.5, 5.0), talk_share=None,
                 seed=None):
        if not shutil.which("espeak-ng") or not shutil.which("sox"):
            raise RuntimeError("demo members need espeak-ng and sox (./orva setup)")
        self.channel = channel
        self.members = [Member(relay, channel, a, v, p) for a, v, p in members]
        self.pause, self.talk_share = pause, talk_share
        self.rng = random.Random(seed)
        self.stop_event = threading.Event()
        self.speaking = None          # account of the member talking now, or None
        self.talk_seconds = 0.0
        self.phrases_said = 0
        self.threads = []

    def start(self):
        for m in self.members:        # render every phrase before the first poll
            for text in m.phrases:
                m.clip(text)
        self.started = time.monotonic()
        self.threads = [threading.Thread(target=self._presence, daemon=True),
                        threading.Thread(target=self._turns, daemon=True)]
        for t in self.threads:
            t.start()
        return self

    def stop(self):
        self.stop_event.set()
        for t in self.threads:
            t.join(timeout=5)
        for m in self.members:
            m.close()

    def describe(self):
        return ", ".join(f"account {m.account} ({m.voice})" for m in self.members)

    def blocks_sent(self):
        return sum(m.blocks_sent for m in self.members)

    def _presence(self):
        # Everyone polls all the time, so the relay keeps them on the channel;
        # the talker polls between its own blocks.
        while not self.stop_event.wait(POLL_SECONDS):
            for m in self.members:
                if self.speaking != m.account:
                    m.poll()

    def _turns(self):
        if self.stop_event.wait(2.0):
            return
        order = itertools.cycle(self.members)
        phrase = {m.account: itertools.cycle(m.phrases) for m in self.members}
        while not self.stop_event.is_set():
            m = next(order)
            pcm = m.clip(next(phrase[m.account]))
            spoken = len(pcm) / BLOCK * BLOCK_SECONDS
            self.speaking = m.account
            m.say(pcm, self.stop_event)
            self.speaking = None
            self.talk_seconds += spoken
            self.phrases_said += 1
            if self.talk_share:
                gap = spoken * (1 - self.talk_share) / self.talk_share
                gap *= self.rng.uniform(0.7, 1.3)
            else:
                gap = self.rng.uniform(*self.pause)
            # The relay gives the floor back after its hold time: the next
            # member could not talk before that.
            self.stop_event.wait(max(gap, FLOOR_HOLD_SECONDS * 2))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--relay", default="127.0.0.1")
    parser.add_argument("--channel", type=int, default=DEMO_CHANNEL)
    args = parser.parse_args()
    members = DemoMembers(args.relay, args.channel).start()
    print(f"demo members on channel {args.channel} of {args.relay}: {members.describe()}")
    try:
        while True:
            time.sleep(1)
    except KeyboardInterrupt:
        pass
    finally:
        members.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
