"""Orva-Lin.exe as a screen reader finds it under Wine (tools/accprobe.c):
every part of the panel where the panel draws it; the talker card, a lamp
and the channel frame following the network, with their change events; the
frame's default action opening the group list, whose cells are members."""

import struct
import subprocess
import sys
import threading
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402

TITLE, GROUP_TITLE = "ORVA-LIN", "Orva-Lin Group List"
GROUP_WARNING = "Ne pas laisser cette fenêtre longtemps ouverte car elle consomme beaucoup de ressources réseau"
OWN, TALKER = 1201, 1207
CHANNEL, MEMBERS = 3, (301, 302, 303, 304, 305)
DRAWN = (301, 303, 304, 305)   # the host has no 302: its cell goes to the next member
ROLES = dict(text=0x29, button=0x2B, link=0x1E, slider=0x33, meter=0x30, lamp=0x27, animation=0x36)
NAME_CHANGE, VALUE_CHANGE, STATE_CHANGE = 0x800C, 0x800E, 0x800A
ALERT_HIGH = 0x10000000

# Every part in child order: name, role, where the panel draws it (an LED's, a knob's, a zone's centre).
PARTS = [
    ("Ligne d'état", "text", (275, 55)), ("Canal 0 : Bienvenue", "button", (100, 135)),
    ("Personne ne parle", "text", (150, 450)), ("VU-mètre gauche (AUDIO LEFT)", "meter", (275, 120)),
    ("VU-mètre droit (AUDIO RIGHT)", "meter", (445, 120)), ("Barre de niveau gauche", "meter", (275, 170)),
    ("Barre de niveau droite", "meter", (445, 170)), ("PARAMS : vos paramètres", "button", (49, 244)),
    ("MIC GAIN : niveau du microphone", "slider", (139, 244)), ("VOLUME : volume sonore", "slider", (229, 244)),
    ("Voyant UDP", "lamp", (317, 227)), ("Voyant SVC", "lamp", (347, 227)),
    ("Voyant TCP", "lamp", (377, 227)), ("Voyant HTTPS", "lamp", (317, 277)),
    ("Voyant TX-RX", "lamp", (377, 277)), ("Voyant TST", "lamp", (427, 277)),
    ("Charge du serveur (SERVER LOAD)", "lamp", (463, 227)), ("Temps restant (TIME LEFT)", "text", (480, 277)),
    ("NETWORK : voir les correspondants", "button", (420, 380)),
    ("Animation : ouvrir l'image partagée", "animation", (425, 525)), ("Documentation", "link", (330, 625)),
    ("Synthétiseur vocal Talvo", "button", (31, 24)), ("Concepteur : Équipe Orva-Lin", "button", (462, 630)),
    ("Fermer Orva-Lin", "button", (525, 25)),
]
CHANNEL_ID, TALKER_ID, LOAD_ID = 2, 3, 17


class Probe:
    """tools/accprobe.c, driven line by line; the test's time limit ends a hung one."""

    def __init__(self, a_bed):
        self.proc = subprocess.Popen(["wine", str(harness.ensure_tools() / "accprobe.exe")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=a_bed.env())

    def ask(self, command):
        self.proc.stdin.write(command.encode("utf-8") + b"\n")
        self.proc.stdin.flush()
        out = []
        while (line := self.proc.stdout.readline().decode("utf-8", "replace")) and line.rstrip() != "end":
            out.append(line.rstrip("\r\n"))
        if not line:
            raise AssertionError(f"accprobe ended: {out}")
        return out

    def children(self):
        fields = [line.split("\t") for line in self.ask("walk")]
        return {int(f[1]): dict(role=int(f[2]), state=int(f[3], 16), loc=tuple(map(int, f[4].split(","))),
                                name=f[5], value=f[6], desc=f[7], action=f[8]) for f in fields if f[0] == "child"}

    def events(self):
        return [(int(f[1], 16), int(f[2])) for f in map(str.split, self.ask("events"))]

    def close(self):
        self.proc.stdin.close()
        harness.stop_child(self.proc)


bed = host = relay = probe = client = None


def setUpModule():
    global bed, host, relay, probe, client
    bed = harness.open_client_bed("test_access")
    host = bed.start_web_host([(OWN, "Renée", "Lyon", "Bonjour", "000000"),
                               (TALKER, "Mathéo", "Nantes", "Salut à tous", "000000")]
                              + [(m, f"Membre{m}", "Brest", "Bonjour", "000000") for m in DRAWN])
    relay = vp.ScriptedRelay(vp.private_loopback())
    client = bed.start_client(extra_env={"ORVALIN_WEBHOST": host.address, "ORVALIN_ACCOUNT": str(OWN),
                                         "ORVALIN_RELAY": relay.addr})
    bed.wait_window(TITLE, timeout=90)
    probe = Probe(bed)


def tearDownModule():
    harness.close_all(probe, relay, bed)


class ScreenReader(unittest.TestCase):
    def wait_child(self, ident, test, what):
        return harness.poll(lambda: test(probe.children().get(ident, {})), 30, interval=0.5, what=what)

    def wait_events(self, *wanted):
        """The panel reads live values, but raises its events as its timers
        draw the change, up to a tick later."""
        seen = set()
        harness.poll(lambda: seen.update(probe.events()) or set(wanted) <= seen, 10, interval=0.3,
                     what=f"events {wanted}")

    def test_panel_as_a_screen_reader_finds_it(self):
        self.assertEqual(probe.ask(f"use {TITLE}"), [f"qi=ok children={len(PARTS)}"])
        # The knobs are there once the knob panel has drawn them.
        children = harness.poll(lambda: (lambda c: c if c[10]["state"] & 0x8000 == 0 else None)(probe.children()),
                                30, what="the knobs drawn")
        for ident, (name, role, (x, y)) in enumerate(PARTS, start=1):
            child = children[ident]
            self.assertEqual((child["name"], child["role"]), (name, ROLES[role]), ident)
            lx, ly, w, h = child["loc"]
            self.assertTrue(lx <= x < lx + w and ly <= y < ly + h, f"{name}: {(x, y)} outside {child['loc']}")
            self.assertEqual(probe.ask(f"hit {x} {y}"), [f"hit {ident}"], name)
        self.assertEqual(children[CHANNEL_ID]["desc"], "Cliquez dans ce cadre pour voir tous les groupes")
        self.assertEqual(children[CHANNEL_ID]["action"], "Cliquer")
        probe.events()

        # The talker card follows a member the web host knows, with a name change.
        voice = relay.client_voice_address()
        talking = threading.Thread(target=relay.stream_tone, args=(voice, 440, 4.0), kwargs={"talker": TALKER})
        talking.start()
        self.wait_child(TALKER_ID, lambda c: c.get("name") == "Mathéo, Nantes", "the talker's name")
        self.assertEqual(probe.children()[TALKER_ID]["value"], "Salut à tous")
        self.wait_child(LOAD_ID, lambda c: c.get("value") == "niveau 1 sur 5, vert", "the relay's pace")
        talking.join()
        # The relay goes silent: SERVER LOAD turns red.
        self.wait_child(LOAD_ID, lambda c: c.get("value") == "aucun contact, rouge" and c["state"] & ALERT_HIGH,
                        "the lamps red")
        self.wait_events((NAME_CHANGE, TALKER_ID), (STATE_CHANGE, LOAD_ID))

        # The channel frame follows a channel key, then a list reply.
        bed.key(bed.wait_window(TITLE), str(CHANNEL))
        self.wait_child(CHANNEL_ID, lambda c: c.get("name") == "Canal 3 : Zone Technologie"
                        and c["value"] == "nombre de membres inconnu", "the new channel")
        reply = bytes([ord("L"), CHANNEL, len(MEMBERS)]) + b"".join(struct.pack("<H", m) for m in MEMBERS)
        relay.lists.sendto(reply, relay.client_list_address())
        self.wait_child(CHANNEL_ID, lambda c: c.get("value") == "5 membres", "the member count")
        self.wait_events((NAME_CHANGE, CHANNEL_ID), (VALUE_CHANGE, CHANNEL_ID))

        # The frame's default action is its click: the group list opens, its
        # cells are the channel's members where the window draws their faces.
        self.assertEqual(probe.ask(f"do {CHANNEL_ID}"), ["do 00000000"])
        bed.wait_window(GROUP_TITLE)
        self.assertRegex(probe.ask(f"use {GROUP_TITLE}")[0], "^qi=ok")
        harness.poll(lambda: [probe.children().get(i, {}).get("name") for i in range(1, 6)]
                     == [f"Membre {m}" for m in DRAWN] + [GROUP_WARNING], 30, interval=0.5, what="row 3's faces")
        # The window moves while it unfolds; its first cell then stays put.
        self.wait_child(1, lambda c: c.get("loc") == (20, 51 * CHANNEL - 41, 33, 41), "row 3's first cell")
        self.assertTrue(client.alive())


if __name__ == "__main__":
    unittest.main(verbosity=2)
