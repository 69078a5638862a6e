#!/usr/bin/python3
"""The member page in headless Chromium: a member signs in with the password
the operator set, edits the profile and the portrait with the plain HTML
form, and the client's client.xml and images.php show the change; then
publishes the e-mail, undoes a colour, locks it against the client's
unauthenticated post, and changes the password, which ends the other
sessions.

    pages_test.py WEBHOST_BIN TLS_DIR [SCREENSHOT]

Run with Debian's python3 (its selenium and chromium-driver packages).
"""
import base64
import hashlib
import http.client
import os
import shutil
import signal
import ssl
import struct
import subprocess
import sys
import tempfile
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

BIN, TLS = sys.argv[1], sys.argv[2]
SHOT = sys.argv[3] if len(sys.argv) > 3 else None
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
    host = None
    browser = None
    try:
        face = os.path.join(data, "face.ppm")
        with open(face, "wb") as f:   # a 120 x 160 gradient, in a format the host must convert
            f.write(b"P6 120 160 255\n" + bytes(
                v for y in range(160) for x in range(120) for v in (2 * x, y, 200 - y)))
        subprocess.run([BIN, "--data", data, "member", "add", "7", "--prenom", "Zoé", "--ville",
                        "Besançon", "--phrase", "Bonjour", "--password-stdin"], input=b"motdepasse-7\n",
                       check=True)
        host = subprocess.Popen([BIN, "--data", data, "--bind", "127.0.0.1", "--port", "0",
                                 "--cert", os.path.join(TLS, "localhost.pem"),
                                 "--key", os.path.join(TLS, "localhost.key")],
                                stdout=subprocess.PIPE, text=True)
        port = int(host.stdout.readline().rsplit(":", 1)[1])
        base = "https://localhost:%d" % port
        tls = ssl.create_default_context(cafile=CA)

        def fetch(path):
            with urllib.request.urlopen(base + path, context=tls) as r:
                return r.read()

        def raw(method, path, body=None, headers=None):
            """Status and headers of one request, redirects not followed."""
            c = http.client.HTTPSConnection("localhost", port, context=tls, timeout=30)
            c.request(method, path, body, headers or {})
            r = c.getresponse()
            r.read()
            c.close()
            return r.status, r.headers

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
            WebDriverWait(browser, 30).until(expected_conditions.staleness_of(old))

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
        status, _ = raw("POST", "/users/7/params.php", struct.pack("<5i", 1, 255, 0, 0, 7),
                        {"Content-Type": "multipart/form-data"})
        check(status == 403 and element(fetch("/users/7/params.xml"), "BACKGROUND") == first,
              "a kept colour refuses the client's post and stays")

        status, headers = raw("POST", "/membre/connexion", "numero=7&motdepasse=motdepasse-7",
                              {"Content-Type": "application/x-www-form-urlencoded"})
        other = {"Cookie": headers["Set-Cookie"].split(";")[0]}
        check(status == 303 and raw("GET", "/membre/profil", None, other)[0] == 200,
              "a second session opens elsewhere")
        browser.find_element(By.ID, "actuel").send_keys("motdepasse-7")
        browser.find_element(By.ID, "nouveau").send_keys("nouveau-secret-7")
        submit(By.XPATH, "//button[text()='Changer le mot de passe']")
        check("Mot de passe changé" in browser.find_element(By.CLASS_NAME, "ok").text,
              "the member changes the password")
        check(raw("GET", "/membre/profil", None, other)[0] == 303, "which ends the other session")

        browser.get(base + "/membre/profil")
        if SHOT:
            browser.save_screenshot(SHOT)
            print("screenshot:", SHOT)
        submit(By.XPATH, "//button[text()='Se déconnecter']")
        browser.get(base + "/membre/profil")
        check(browser.current_url.endswith("/membre"), "after signing out the profile asks to sign in")
    finally:
        if browser:
            browser.quit()
        if host:
            host.send_signal(signal.SIGTERM)
            host.wait(10)
        shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main()
