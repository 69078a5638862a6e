#!/usr/bin/python3
"""The member page and the operator's console in headless Chromium, against
the real web host and the real relay: a member signs in with the password
the operator set, edits the profile and the portrait with the plain HTML
form, and the client's client.xml and images.php show the change; then
publishes the e-mail, undoes a colour, locks it against the client's
unauthenticated post, and changes the password, which ends the other
sessions; then an operator watches a scripted member on channel 2, closes
it, takes down the channel's picture, locks and restores a colour, and
finds it all in the audit log.

    pages_test.py WEBHOST_BIN TLS_DIR RELAY_BIN [SCREENSHOT_DIR]

Run with Debian's python3 (its selenium and chromium-driver packages).
"""
import base64
import hashlib
import http.client
import os
import select
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "wine"))
import demo_members  # noqa: E402
import voice_peer  # noqa: E402
import webhost  # noqa: E402

BIN, TLS, RELAY = sys.argv[1], sys.argv[2], sys.argv[3]
SHOTS = sys.argv[4] if len(sys.argv) > 4 else None
CA = os.path.join(TLS, "ca.pem")


def check(condition, what):
    if not condition:
        raise SystemExit("FAIL: " + what)
    print("ok:", what)


def element(body, name):
    """The client's tag search, then its one entity."""
    text = body.decode()
    start = text.index("<%s>" % name) + len(name) + 2
    return text[start:text.index("</%s>" % name, start)].replace("&#xE9;", "é")


class ScriptedMember:
    """A relay client on one channel, as Orva-Lin behaves on the wire: polls
    every 30 ms, learns its token from the audio datagrams, asks the
    supervisor every 200 ms, and sends voice blocks while `talking`."""

    def __init__(self, relay, account, channel):
        self.relay, self.account, self.channel = relay, account, channel
        self.voice = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.supervisor = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for s in (self.voice, self.supervisor):
            s.bind(("127.0.0.1", 0))
        self.token, self.notices, self.talking, self.stop = None, [], False, False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        sequence, next_poll, next_ask, next_block = 1, 0.0, 0.0, 0.0
        while not self.stop:
            now = time.monotonic()
            if now >= next_poll:
                self.voice.sendto(voice_peer.poll_datagram(self.account),
                                  (self.relay, voice_peer.VOICE_PORT + self.channel))
                next_poll = now + 0.03
            if self.talking and now >= next_block:
                self.voice.sendto(demo_members.voice_datagram(sequence, self.account, bytes(voice_peer.BLOCK)),
                                  (self.relay, voice_peer.VOICE_PORT + self.channel))
                sequence = sequence % 255 + 1
                next_block = max(next_block + voice_peer.BLOCK_SECONDS, now - 0.1)
            if self.token and now >= next_ask:
                self.supervisor.sendto(bytes([voice_peer.KIND_AUDIO, 1, self.token]),
                                       (self.relay, voice_peer.LIST_PORT + self.channel))
                next_ask = now + 0.2
            for s in select.select([self.voice, self.supervisor], [], [], 0.005)[0]:
                data = s.recv(2048)
                if s is self.voice and len(data) >= 8 and data[0] == voice_peer.KIND_AUDIO:
                    self.token = data[2]
                elif s is self.supervisor and len(data) == 3 and data[:2] == bytes([voice_peer.KIND_AUDIO, 1]):
                    self.notices.append(data[2])

    def close(self):
        self.stop = True
        self.thread.join(2)
        self.voice.close()
        self.supervisor.close()


def spki_hash(cert):
    """Chromium trusts the host's key alone, pinned by hash: the test browser
    needs no certificate store of its own."""
    der = subprocess.run(["openssl", "x509", "-in", cert, "-noout", "-pubkey"], check=True,
                         capture_output=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=der, check=True,
                         capture_output=True).stdout
    return base64.b64encode(hashlib.sha256(der).digest()).decode()


def main():
    data = tempfile.mkdtemp(prefix="webhost-pages-")
    host = relay = member = None
    browser = None
    try:
        face = os.path.join(data, "face.bmp")
        with open(face, "wb") as f:   # a 120 x 160 gradient, in a format the host must convert
            pixels = bytes(v for y in reversed(range(160)) for x in range(120) for v in (200 - y, y, 2 * x))
            f.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) +
                    struct.pack("<IiiHHIIiiII", 40, 120, 160, 1, 24, 0, len(pixels), 0, 0, 0, 0) + pixels)
        subprocess.run([BIN, "--data", data, "member", "add", "7", "--prenom", "Zoé", "--ville",
                        "Besançon", "--phrase", "Bonjour", "--password"], input=b"motdepasse-7\n",
                       check=True)
        subprocess.run([BIN, "--data", data, "member", "add", "12", "--prenom", "Marius", "--ville",
                        "Nîmes", "--phrase", "Salut", "--background", "102030"], check=True)
        subprocess.run([BIN, "--data", data, "operator", "add", "alice"], input="console-alice\n",
                       text=True, check=True)
        relay_addr = voice_peer.private_loopback()
        ctl = os.path.join(data, "relay.sock")
        relay = subprocess.Popen([RELAY, "--bind", relay_addr, "--ctl", ctl], stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not os.path.exists(ctl) and time.monotonic() < deadline:
            time.sleep(0.05)
        host = subprocess.Popen([BIN, "--data", data, "--bind", "127.0.0.1", "--port", "0",
                                 "--cert", os.path.join(TLS, "localhost.pem"),
                                 "--key", os.path.join(TLS, "localhost.key"), "--relay-ctl", ctl],
                                stdout=subprocess.PIPE, text=True)
        port = int(host.stdout.readline().rsplit(":", 1)[1])
        base = "https://localhost:%d" % port
        tls = ssl.create_default_context(cafile=CA)

        def fetch(path, body=None):
            request = urllib.request.Request(base + path, data=body,
                                             headers={"Content-Type": "multipart/form-data"} if body else {})
            with urllib.request.urlopen(request, context=tls) as r:
                return r.read()

        def raw(method, path, body=None, headers=None):
            """Status and headers of one request, redirects not followed."""
            c = http.client.HTTPSConnection("localhost", port, context=tls, timeout=30)
            c.request(method, path, body, headers or {})
            r = c.getresponse()
            r.read()
            c.close()
            return r.status, r.headers

        def status(path, body=None):
            try:
                fetch(path, body)
                return 200
            except urllib.error.HTTPError as e:
                return e.code

        old_portrait = fetch("/users/7/images.php?N=2")

        options = webdriver.ChromeOptions()
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=900,1300",
                    "--user-data-dir=" + os.path.join(data, "chromium"),
                    "--ignore-certificate-errors-spki-list=" + spki_hash(os.path.join(TLS, "localhost.pem"))):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        browser.set_page_load_timeout(30)

        def submit(by, what):
            """Clicks a form's button and waits for the answer page: reading
            right after the click can still see the page that sent it."""
            old = browser.find_element(By.TAG_NAME, "html")
            browser.find_element(by, what).click()

            def replaced(_):
                try:
                    old.is_enabled()
                    return False
                except StaleElementReferenceException:
                    return True
                except WebDriverException as e:
                    # Asked mid-navigation, Chromium may call the old node
                    # foreign to the new document rather than stale.
                    if "does not belong to the document" in str(e):
                        return True
                    raise
            WebDriverWait(browser, 30).until(replaced)

        browser.get(base + "/membre")
        check("Espace membre" in browser.title, "the sign-in page opens over HTTPS")
        browser.find_element(By.ID, "numero").send_keys("7")
        browser.find_element(By.ID, "motdepasse").send_keys("pas le bon")
        submit(By.CSS_SELECTOR, "button[type=submit]")
        check("incorrect" in browser.find_element(By.CLASS_NAME, "erreur").text,
              "a wrong password is refused")

        browser.find_element(By.ID, "numero").send_keys("7")
        browser.find_element(By.ID, "motdepasse").send_keys("motdepasse-7")
        submit(By.CSS_SELECTOR, "button[type=submit]")
        check(browser.current_url.endswith("/membre/profil"), "the right password opens the profile")
        check(browser.find_element(By.ID, "ville").get_attribute("value") == "Besançon",
              "the form shows the stored town")

        for field, value in (("ville", "Saint-Étienne"), ("phrase", "Un café et ça repart !")):
            browser.find_element(By.ID, field).clear()
            browser.find_element(By.ID, field).send_keys(value)
        browser.find_element(By.ID, "photo").send_keys(face)
        submit(By.XPATH, "//button[text()='Enregistrer']")
        check("Profil enregistré" in browser.find_element(By.CLASS_NAME, "ok").text,
              "the edited profile is saved")

        xml = fetch("/users/7/client.xml")
        check(element(xml, "VILLE") == "Saint-Étienne", "client.xml carries the new town")
        check(element(xml, "PHRASE") == "Un café et ça repart !", "client.xml carries the new phrase")
        check(b"&#xE9;" in xml, "é is written as the entity the client decodes")
        portrait = fetch("/users/7/images.php?N=2")
        check(portrait[:8] == b"\x89PNG\r\n\x1a\n" and portrait != old_portrait,
              "the portrait was replaced by a PNG made from the uploaded picture")

        browser.find_element(By.ID, "phrase").clear()
        browser.find_element(By.ID, "phrase").send_keys("x" * 130)
        submit(By.XPATH, "//button[text()='Enregistrer']")
        check("trop long" in browser.find_element(By.CLASS_NAME, "erreur").text,
              "a phrase the client could not hold is refused")
        check(element(fetch("/users/7/client.xml"), "PHRASE") == "Un café et ça repart !",
              "the refused edit left the stored phrase")

        browser.get(base + "/membre/profil")
        save = (By.XPATH, "//button[text()='Enregistrer']")
        browser.find_element(By.ID, "email").send_keys("zoe@exemple.fr")
        submit(*save)
        check(element(fetch("/users/7/client.xml"), "EMAIL") == "",
              "the e-mail stays out of the public client.xml by default")
        check("public" in browser.find_element(By.XPATH, "//input[@id='publier']/../following-sibling::small").text,
              "the page says why")
        browser.find_element(By.ID, "publier").click()
        submit(*save)
        check(element(fetch("/users/7/client.xml"), "EMAIL") == "zoe@exemple.fr",
              "a published e-mail is in client.xml")

        first = element(fetch("/users/7/params.xml"), "BACKGROUND")
        browser.execute_script("document.getElementById('couleur').value = '#00ff00'")
        submit(*save)
        check(element(fetch("/users/7/params.xml"), "BACKGROUND") == "00FF00", "the page changes the colour")
        submit(By.ID, "annuler")
        check("Couleur précédente rétablie" in browser.find_element(By.CLASS_NAME, "ok").text and
              element(fetch("/users/7/params.xml"), "BACKGROUND") == first,
              "undo brings the previous colour back")

        browser.find_element(By.ID, "verrou").click()
        submit(*save)
        check(status("/users/7/params.php", webhost.colour_record(255, 0, 0, 7)) == 403 and
              element(fetch("/users/7/params.xml"), "BACKGROUND") == first,
              "a kept colour refuses the client's post and stays")

        code, headers = raw("POST", "/membre/connexion", "numero=7&motdepasse=motdepasse-7",
                            {"Content-Type": "application/x-www-form-urlencoded"})
        other = {"Cookie": headers["Set-Cookie"].split(";")[0]}
        check(code == 303 and raw("GET", "/membre/profil", None, other)[0] == 200,
              "a second session opens elsewhere")
        browser.find_element(By.ID, "actuel").send_keys("motdepasse-7")
        browser.find_element(By.ID, "nouveau").send_keys("nouveau-secret-7")
        submit(By.XPATH, "//button[text()='Changer le mot de passe']")
        check("Mot de passe changé" in browser.find_element(By.CLASS_NAME, "ok").text,
              "the member changes the password")
        check(raw("GET", "/membre/profil", None, other)[0] == 303, "which ends the other session")

        if SHOTS:
            browser.save_screenshot(os.path.join(SHOTS, "webhost-profil.png"))
        browser.get(base + "/console")
        check(browser.find_elements(By.ID, "nom") and not browser.find_elements(By.ID, "direct"),
              "a member's session does not open the console")
        browser.get(base + "/membre/profil")
        submit(By.XPATH, "//button[text()='Se déconnecter']")
        browser.get(base + "/membre/profil")
        check(browser.current_url.endswith("/membre"), "after signing out the profile asks to sign in")

        # ---- The operator's console ----
        check(status("/echange/pc_img_share_post.php",
                     webhost.upload_record(open(face, "rb").read(), b"face.ppm", 2)) == 200
              and status("/users/12/params.php", webhost.colour_record(255, 0, 0, 12)) == 200,
              "channel 2 has a shared picture and member 12 a colour set by a colour record")

        def live(css):
            return browser.find_elements(By.CSS_SELECTOR, css)

        def click_live(css):
            """Clicks a button of the live view, which is replaced every 2 s."""
            for _ in range(20):
                try:
                    return submit(By.CSS_SELECTOR, css)
                except StaleElementReferenceException:
                    time.sleep(0.1)
            raise SystemExit("FAIL: " + css + " stayed stale")

        def confirm():
            check(browser.find_elements(By.ID, "confirmation"), "the action asks to be confirmed first")
            submit(By.ID, "confirmer")

        browser.get(base + "/console")
        for password in ("pas le bon", "console-alice"):
            browser.find_element(By.ID, "nom").send_keys("alice")
            browser.find_element(By.ID, "motdepasse").send_keys(password)
            submit(By.CSS_SELECTOR, "button[type=submit]")
            if password != "console-alice":
                check("incorrect" in browser.find_element(By.CLASS_NAME, "erreur").text,
                      "a wrong operator password is refused")
        check(browser.find_elements(By.ID, "direct"), "the operator's password opens the console")

        member = ScriptedMember(relay_addr, 12, 2)
        start = time.monotonic()
        WebDriverWait(browser, 3).until(lambda b: live('#canal-2 li[data-numero="12"]'))
        entry = live('#canal-2 li[data-numero="12"]')[0].text
        check("Marius" in entry and "Nîmes" in entry and live('#canal-2 img[src="/users/12/images.php?N=1"]'),
              "the scripted member shows on channel 2 with portrait, name and town after %.1f s"
              % (time.monotonic() - start))
        member.talking = True
        WebDriverWait(browser, 3).until(lambda b: live('#canal-2 li.parle[data-numero="12"]'))
        check("parle" in live('#canal-2 li.parle[data-numero="12"]')[0].text,
              "the member is marked as talking while it sends voice")
        if SHOTS:
            browser.save_screenshot(os.path.join(SHOTS, "console.png"))
        member.talking = False
        click_live('#canal-2 li[data-numero="12"] button')
        confirm()
        deadline = time.monotonic() + 3
        while 240 not in member.notices and time.monotonic() < deadline:
            time.sleep(0.05)
        check(240 in member.notices, "the closed member receives the supervisor's notice 240")

        click_live("#canal-2 .partage button")
        confirm()
        check(status("/echange/pc_img_share_get.php?F=2&N=1") == 404, "channel 2's shared picture is gone")

        browser.get(base + "/console/membre?N=12")
        submit(By.CSS_SELECTOR, "#verrou button")
        confirm()
        check(status("/users/12/params.php", webhost.colour_record(0, 255, 0, 12)) == 403
              and element(fetch("/users/12/params.xml"), "BACKGROUND") == "0000FF",
              "a locked colour refuses the colour record and stays")
        submit(By.XPATH, "//table[@id='couleurs']//tr[contains(., '#102030')]//button")
        confirm()
        check(element(fetch("/users/12/params.xml"), "BACKGROUND") == "302010", "the earlier colour is back")
        browser.find_element(By.ID, "ville").clear()
        browser.find_element(By.ID, "ville").send_keys("Arles")
        browser.find_element(By.ID, "motdepasse").send_keys("nouveau-12")
        browser.find_element(By.ID, "confirme").click()
        submit(By.XPATH, "//button[text()='Enregistrer']")
        check(element(fetch("/users/12/client.xml"), "VILLE") == "Arles", "the operator edits a member's profile")
        browser.get(base + "/console")
        browser.find_element(By.ID, "version").send_keys("0.7.6")
        submit(By.XPATH, "//button[text()='Appliquer…']")
        confirm()
        check("version minimale : 0.7.6" in browser.find_element(By.ID, "relais").text,
              "the relay takes the oldest allowed client version")

        browser.get(base + "/console/journal")
        log = browser.find_element(By.ID, "journal").text
        for action in ("fermer la session du membre 12", "retirer l'image partagée du canal 2",
                       "verrouiller la couleur du membre 12", "rétablir la couleur #102030 du membre 12",
                       "membre 12 modifié : profil, mot de passe réinitialisé",
                       "version minimale des clients : 0.7.6"):
            check("alice" in log and action in log, "the audit log holds: " + action)

        browser.get(base + "/console")
        relay.send_signal(signal.SIGTERM)
        relay.wait(10)
        WebDriverWait(browser, 5).until(lambda b: "ne répond pas" in b.find_element(By.ID, "relais").text)
        browser.get(base + "/console")
        check("ne répond pas" in browser.find_element(By.ID, "relais").text
              and browser.find_elements(By.ID, "journal"),
              "with the relay stopped the console says so and the rest still shows")
    finally:
        if member:
            member.close()
        if browser:
            browser.quit()
        for proc in (host, relay):
            if proc and proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                proc.wait(10)
        shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main()
