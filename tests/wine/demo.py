"""./orva demo: the local relay and web host (when built) and Orva-Lin.exe under Wine.

On a desktop ($DISPLAY reachable) the client opens there with the desktop's
sound and runs until it is closed or Ctrl-C is pressed. Without a display it
runs on a private virtual screen with a null sound sink, and after a few
seconds a screenshot is saved (out/demo.png by default) and everything ends.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import demo_members  # noqa: E402
import harness  # noqa: E402
import webhost  # noqa: E402

RELAY = harness.BUILD / "servers" / "relay" / "orva-relay"
TITLE = "ORVA-LIN"
DEMO_ACCOUNT = 1


def display_reachable(display):
    if not display:
        return False
    try:
        r = subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                           capture_output=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def sound_server_running():
    """The desktop's PulseAudio (or PipeWire's) answers; without one the demo
    starts its own null sink, since the client ends at once without an output."""
    try:
        return subprocess.run(["pactl", "info"], capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def start_members(relay):
    """The two speaking demo members on channel 1, or None without a relay."""
    if relay is None:
        return None
    try:
        members = demo_members.DemoMembers("127.0.0.1", channel=demo_members.DEMO_CHANNEL).start()
    except (RuntimeError, OSError, subprocess.SubprocessError) as e:
        print(f"demo members: not started ({e})")
        return None
    print(f"demo members: talking in turn on channel {members.channel} ({members.describe()})")
    return members


def start_relay(workdir, log_path):
    """The relay on 127.0.0.1, or None when it has not been built."""
    if not RELAY.is_file():
        print(f"relay: {RELAY} not built; the client runs without a relay")
        return None
    log_path.parent.mkdir(parents=True, exist_ok=True)
    with open(log_path, "wb") as log_f:
        relay = harness.spawn([str(RELAY), "--bind", "127.0.0.1", "--ctl", str(workdir / "relay.ctl")],
                               env=dict(os.environ), stdout=log_f, stderr=log_f)
    time.sleep(0.5)
    if relay.poll() is not None:
        print(f"relay: ended at once (code {relay.returncode}); see {log_path}")
        return None
    print(f"relay: running on 127.0.0.1 (pid {relay.pid}, log {log_path})")
    return relay


def start_webhost(workdir, log_path):
    """The web host on 127.0.0.1 with the demo members, a picture on the
    board of channel 1 and the program folder on the installer page; or None
    when it has not been built."""
    try:
        data = workdir / "webhost-data"
        data.mkdir()
        if (harness.DIST / "Orva-Lin.exe").is_file():
            shutil.make_archive(str(data / "Orva-Lin"), "zip", harness.DIST.parent, harness.DIST.name)
        log_path.parent.mkdir(parents=True, exist_ok=True)
        host = webhost.start(data, webhost.DEMO_MEMBERS, log_path)
    except AssertionError as e:
        print(f"web host: {e}; the client runs without a web host")
        return None
    panel = harness.REPO / "docs" / "panel.png"
    if panel.is_file():
        host.request("/echange/pc_img_share_post.php", webhost.upload_record(panel.read_bytes(), b"panel.png", 1))
    print(f"web host: https://{host.address}/ (pid {host.proc.pid}, log {log_path}); members "
          f"1..{len(webhost.DEMO_MEMBERS)}, member page password demoN; the client is member {DEMO_ACCOUNT}")
    return host


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=6,
                        help="wait before the screenshot when there is no display (default 6)")
    parser.add_argument("--screenshot", default=str(harness.REPO / "out" / "demo.png"),
                        help="where the screenshot goes (default out/demo.png)")
    parser.add_argument("--headless", action="store_true",
                        help="use a private virtual display even when $DISPLAY is set")
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    desktop = not args.headless and display_reachable(display)
    if display and not desktop and not args.headless:
        print(f"display {display} not reachable: using a private virtual display")

    workdir = Path(tempfile.mkdtemp(prefix="orva-demo-"))
    relay = members = host = None
    host_sound = desktop and sound_server_running()
    if desktop and not host_sound:
        print("sound: no sound server answers; using a private null sink")
    bed = harness.Bed("demo", audio="host" if host_sound else True,
                      display=display if desktop else None)
    try:
        with bed:
            relay = start_relay(workdir, harness.REPO / "out" / "demo-relay.log")
            host = start_webhost(workdir, harness.REPO / "out" / "demo-webhost.log")
            members = start_members(relay)
            client_env = {"ORVALIN_ACCOUNT": str(DEMO_ACCOUNT)}
            if host:
                client_env["ORVALIN_WEBHOST"] = host.address
            if desktop:
                bed.set_managed(True)      # the desktop's window manager takes it
            folder = bed.program_folder()
            client = bed.start_client(folder, extra_env=client_env)
            print(f"client: started under Wine on {bed.display}")
            wid = bed.wait_window(TITLE, timeout=120)
            if members:
                bed.key(wid, str(members.channel))     # where the members talk
                print(f"client: on channel {members.channel}; keys 0-9 change channel, "
                      "hold space to talk")
            print(f"logs: {harness.REPO / 'out'}/demo-relay.log and demo-webhost.log; "
                  "Ctrl-C ends the client, the members, the web host and the relay")
            if desktop:
                print("client: running; close its window (Escape or the cross) or press Ctrl-C")
                while client.alive():
                    time.sleep(0.5)
                print(f"client: ended with code {client.popen.returncode}")
            else:
                time.sleep(harness.scaled(args.seconds))
                if members:     # a screenshot while someone talks shows the card and meters
                    harness.poll(lambda: members.speaking is not None, 30, interval=0.1,
                                 what="a demo member to talk")
                    time.sleep(1.0)
                shot = Path(args.screenshot).resolve()
                bed.screenshot(shot)
                x, y, w, h = bed.geometry(wid)
                print(f"screenshot: {shot} (client window {w}x{h} at {x},{y})")
    except KeyboardInterrupt:
        print("\ninterrupted: ending the demo")
    except AssertionError as e:
        print(f"demo failed: {e}", file=sys.stderr)
        return 1
    finally:
        if members:
            members.stop()
        harness.stop_child(relay)
        if host:
            host.stop()
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
