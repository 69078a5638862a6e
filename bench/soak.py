#!/usr/bin/env python3
"""Soak: Orva-Lin.exe under Wine for an hour (--minutes) with the relay, a demo
member talking on the client's channel a third of the time, and the member
switching channels and opening the group list now and then.

Each minute it samples the client's GDI objects, handles, threads and private
memory (from Windows, through tests/wine/tools/guicount.c, and from Linux), and
the receive queue and drop count of each of its UDP sockets; at the end it
asks the relay what it sent. It prints the samples, the start and end figures
and writes them to out/soak.csv. It fails (exit 1) when a figure grows without
bound, a socket dropped datagrams, or the client ended.

    python3 bench/soak.py [--minutes 60] [--sample-seconds 60]
"""

import argparse
import csv
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
import demo_members  # noqa: E402
import harness  # noqa: E402
import voice_peer  # noqa: E402
from test_panel import guicount_exe  # noqa: E402

RELAY = harness.BUILD / "servers" / "relay" / "orva-relay"
TITLE = "ORVA-LIN"
CHANNEL = demo_members.DEMO_CHANNEL
GROUP_LIST_AT = (100, 135)      # the channel frame: a click opens or closes the group list
GROWTH_LIMIT = {"gdi": 8, "handles": 20, "threads": 2, "private_kb": 8 * 1024,
                "linux_private_kb": 16 * 1024, "linux_fds": 10}
QUEUE_LIMIT = 16 * 1024     # bytes waiting in one socket: a reader that falls behind


def windows_counts(bed, title=TITLE):
    r = subprocess.run(["wine", str(guicount_exe()), "-t", title], env=bed.env(),
                       capture_output=True, text=True, timeout=harness.scaled(60), cwd=str(bed.root))
    f = dict(kv.split("=", 1) for kv in r.stdout.split() if "=" in kv)
    gdi = int(f.get("gdi", -1))
    return {"gdi": gdi if gdi >= 0 else int(f.get("table", -1)),
            "handles": int(f.get("handles", -1)),
            "threads": int(f.get("threads", -1)),
            "private_kb": int(f.get("private", -1)) // 1024 if int(f.get("private", -1)) >= 0 else -1}


def linux_counts(pid):
    out = {"linux_threads": -1, "linux_private_kb": -1, "linux_fds": -1}
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("Threads:"):
                out["linux_threads"] = int(line.split()[1])
        private = 0
        for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                private += int(line.split()[1])
        out["linux_private_kb"] = private
        out["linux_fds"] = len(list(Path(f"/proc/{pid}/fd").iterdir()))
    except OSError:
        pass
    return out


def socket_queues(pid):
    """{port: (rx_queue bytes, drops)} of the process's UDP sockets."""
    ports = {p for _, p in harness.udp_ports_of(pid)}
    found = {}
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            cols = line.split()
            port = int(cols[1].split(":")[1], 16)
            if port in ports:
                found[port] = (int(cols[4].split(":")[1], 16), int(cols[12]))
    return found


def relay_counters(ctl):
    r = subprocess.run([str(RELAY), "ctl", "--ctl", str(ctl), "counters"], capture_output=True,
                       text=True, timeout=10)
    return dict((k, int(v)) for k, v in (line.split() for line in r.stdout.splitlines()
                                         if len(line.split()) == 2 and line.split()[1].isdigit()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--sample-seconds", type=float, default=60)
    parser.add_argument("--csv", default=str(harness.REPO / "out" / "soak.csv"))
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    if not RELAY.is_file():
        print(f"{RELAY} missing: run ./orva build", file=sys.stderr)
        return 2

    work = Path(tempfile.mkdtemp(prefix="orva-soak-"))
    addr = voice_peer.private_loopback()
    ctl = work / "relay.ctl"
    samples, problems = [], []
    with harness.Bed("soak") as bed, open(work / "relay.log", "wb") as relay_log:
        relay = harness.spawn([str(RELAY), "--bind", addr, "--ctl", str(ctl)], env=None,
                              stdout=relay_log, stderr=relay_log)
        members = companion = None
        try:
            time.sleep(0.5)
            # One member, talking a third of the time on the client's channel.
            members = demo_members.DemoMembers(addr, CHANNEL, members=demo_members.MEMBERS[:1],
                                               talk_share=1 / 3, seed=args.seed).start()
            # The companion port is machine-wide: held here, no other run's
            # Talvo can key this client's microphone.
            companion = harness.UdpListener(harness.companion_port())
            client = bed.start_client(extra_env={"ORVALIN_RELAY": addr})
            wid = bed.wait_window(TITLE, timeout=120)
            bed.key(wid, str(CHANNEL))
            print(f"soak: {args.minutes:g} min, relay {addr}, client pid {client.pid}, "
                  f"member account {members.members[0].account} on channel {CHANNEL}", flush=True)
            start = time.monotonic()
            end = start + args.minutes * 60
            next_sample = start
            next_switch = start + rng.uniform(60, 240)
            next_groups = start + rng.uniform(90, 300)
            away_until = None
            switches = group_opens = 0
            while time.monotonic() < end and client.alive():
                now = time.monotonic()
                if now >= next_sample:
                    s = {"minute": round((now - start) / 60, 1)}
                    s.update(windows_counts(bed))
                    s.update(linux_counts(client.pid))
                    queues = socket_queues(client.pid)
                    s["max_rx_queue"] = max((q for q, _ in queues.values()), default=-1)
                    s["rx_queues"] = "/".join(f"{port}:{q}" for port, (q, _) in sorted(queues.items()))
                    s["drops"] = sum(d for _, d in queues.values())
                    s["member_blocks"] = members.blocks_sent()
                    samples.append(s)
                    print("  " + " ".join(f"{k}={v}" for k, v in s.items()), flush=True)
                    next_sample += args.sample_seconds
                if away_until is None and now >= next_switch:
                    bed.key(wid, str(rng.choice([c for c in range(10) if c != CHANNEL])))
                    away_until = now + rng.uniform(10, 30)
                    switches += 1
                elif away_until is not None and now >= away_until:
                    bed.key(wid, str(CHANNEL))
                    away_until = None
                    next_switch = now + rng.uniform(60, 240)
                if now >= next_groups:
                    bed.click(wid, *GROUP_LIST_AT)      # open ...
                    time.sleep(3)
                    bed.click(wid, *GROUP_LIST_AT)      # ... and close
                    group_opens += 1
                    next_groups = now + rng.uniform(120, 300)
                companion.drain()
                time.sleep(0.5)
            if not client.alive():
                problems.append(f"the client ended (code {client.popen.returncode})")
            counters = relay_counters(ctl)
        finally:
            if companion:
                companion.close()
            if members:
                members.stop()
            harness.stop_child(relay)

    Path(args.csv).parent.mkdir(parents=True, exist_ok=True)
    with open(args.csv, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(samples[0]) if samples else ["minute"])
        w.writeheader()
        w.writerows(samples)
    if len(samples) < 2:
        print("soak: fewer than two samples", file=sys.stderr)
        return 1
    first, last = samples[0], samples[-1]
    # Windows opened for the first time keep their fonts, pictures and a
    # worker: a step at the first group list, then flat. A leak keeps
    # growing, so growth counts over the second half of the run.
    base = samples[len(samples) // 2]
    print(f"\nsoak over {last['minute']} min: {switches} channel switches, "
          f"{group_opens} group list openings, {members.phrases_said} phrases "
          f"({members.talk_seconds:.0f} s of speech)")
    print(f"{'figure':<18}{'start':>10}{'end':>10}{'max':>10}")
    for key in ("gdi", "handles", "threads", "private_kb", "linux_threads", "linux_private_kb",
                "linux_fds", "max_rx_queue", "drops"):
        top = max(s[key] for s in samples)
        print(f"{key:<18}{first[key]:>10}{last[key]:>10}{top:>10}")
        limit = GROWTH_LIMIT.get(key)
        if limit is not None and base[key] >= 0 and last[key] - base[key] > limit:
            problems.append(f"{key} grew from {base[key]} (minute {base['minute']}) to {last[key]}")
    if last["max_rx_queue"] > QUEUE_LIMIT:
        problems.append(f"a socket's receive queue holds {last['max_rx_queue']} bytes "
                        f"({last['rx_queues']}): its reader falls behind")
    if last["drops"] > 0:
        problems.append(f"the client's sockets dropped {last['drops']} datagrams")
    print("relay: " + " ".join(f"{k}={counters.get(k, '?')}" for k in
                               ("in.voice", "out.audio", "out.keepalive", "queue.overflow",
                                "drop.send-failed", "drop.floor-busy")))
    if counters.get("queue.overflow", 0) > 0:
        problems.append(f"the relay dropped {counters['queue.overflow']} queued blocks")
    print(f"samples: {args.csv}; relay log: {work / 'relay.log'}")
    for p in problems:
        print(f"PROBLEM: {p}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
