"""The page in a real headless Chromium, driven as a person would, against simulated units on
/dev/ttyUSB0 and /dev/ttyUSB1 of the bridge maker. Run through sim/web/webbed.sh, which makes
the mount namespace, the browser's policy and the umockdev bed's wrapper."""
import hashlib
import json
import os
import shutil
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from simbed import SimBed
from webpage import COMPLETED, STALL_LIMIT_MS, Browser, Site, bridge, firmware, read

MODELS = [{"model": 1, "name": "Orvane Amplifier"}, {"model": 2, "name": "Orvane Mixer"}]


class Page(unittest.TestCase):
    # ttyUSB2, another amplifier, is plugged in only by the test of two returning units.
    devices = [bridge("ttyUSB0", "W1", "0105", "xonxoff=1"), bridge("ttyUSB1", "W2", "0203"),
               dict(bridge("ttyUSB2", "W3", "0105"), plugged=False)]

    @classmethod
    def setUpClass(cls):
        cls.bed = SimBed(cls.devices)
        for device in cls.devices[:2]:
            cls.bed.pass_ioctls(device["tty"])
        cls.site = Site()
        cls.browser = Browser()
        cls.driver = cls.browser.driver
        cls.files = tempfile.mkdtemp(prefix="orvane-web-files.")
        cls.amplifier6 = firmware(cls.files, "Amplifier-v006.ace", 1, 6, 64 * 1024)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.site.close()
        cls.bed.close()
        shutil.rmtree(cls.files, ignore_errors=True)

    def setUp(self):
        self.bed.configure("ttyUSB0", "reply=0105\nxonxoff=1")
        self.bed.configure("ttyUSB1", "reply=0203")
        for tty in ("ttyUSB0", "ttyUSB1"):
            self.bed.clear(tty)
        self.site.extra.clear()

    def load(self, before_load=""):
        self.browser.open(before_load)
        WebDriverWait(self.driver, 10).until(
            lambda driver: driver.find_element(By.TAG_NAME, "body").get_attribute("data-ready")
            or driver.find_element(By.ID, "problem").is_displayed())

    def units(self):
        return [item.text for item in self.driver.find_elements(By.CSS_SELECTOR, "#units li")]

    def status(self):
        return self.driver.find_element(By.CSS_SELECTOR, "[role=status]").text

    def start_update(self, model, path, allow_older=False):
        """Chooses the unit of that model, the file, and presses Update."""
        self.driver.find_element(
            By.XPATH, f"//ul[@id='units']/li[contains(., 'model {model},')]//input").click()
        self.driver.find_element(By.XPATH, "//label[text()='Firmware file']/following::input[1]"
                                 ).send_keys(path)
        if allow_older:
            self.driver.find_element(By.ID, "allow-older").click()
        button = self.driver.find_element(By.XPATH, "//button[text()='Update']")
        WebDriverWait(self.driver, 5).until(lambda driver: button.is_enabled())
        button.click()

    def wait_status(self, predicate, limit=30):
        WebDriverWait(self.driver, limit).until(lambda driver: predicate(self.status()))
        return self.status()

    def text_of(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def wait_text(self, element_id, predicate, limit=15):
        WebDriverWait(self.driver, limit).until(lambda driver: predicate(self.text_of(element_id)))
        return self.text_of(element_id)

    def assert_sent_then_asked(self, tty, expected):
        """The unit received exactly expected, then at most the confirmation's questions."""
        received = self.bed.received(tty)
        self.assertEqual(received[:len(expected)], expected)
        rest = received[len(expected):]
        self.assertEqual(rest, b"ver\r" * (len(rest) // 4))

    def image(self, model, version, size):
        return read(firmware(self.files, "image.ace", model, version, size))

    def serve_catalog(self, files, served=None):
        """catalog.json beside the page, listing files (name, model, version, bytes) with their
        size and SHA-256, and the files under firmware/ (served replaces a file's bytes)."""
        listed = []
        for name, model, version, data in files:
            listed.append({"file": "firmware/" + name, "model": model, "version": version,
                           "size": len(data), "sha256": hashlib.sha256(data).hexdigest()})
            self.site.extra["firmware/" + name] = (served or {}).get(name, data)
        self.site.extra["catalog.json"] = json.dumps({"models": MODELS, "files": listed}).encode()

    def choose_unit(self, model):
        self.driver.find_element(
            By.XPATH, f"//ul[@id='units']/li[contains(., 'model {model},')]//input").click()

    def test_units_are_listed_and_an_update_sends_exactly_the_program_command_and_the_file(self):
        self.load()
        self.assertEqual(sorted(self.units()), ["Orvane unit, model 1, firmware version 005",
                                                "Orvane unit, model 2, firmware version 003"])
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")
        self.bed.clear("ttyUSB0")
        self.start_update(1, self.amplifier6)
        self.assertEqual(self.wait_status(lambda text: text not in ("", "Sending new firmware...")
                                          and not text.startswith("Firmware file")), COMPLETED)
        progress = self.driver.find_element(By.CSS_SELECTOR, "progress")
        self.assertEqual(progress.get_attribute("value"), "100")
        # The guarded update's own question on the port it opened, then the file.
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 64 * 1024)))
        self.assert_sent_then_asked("ttyUSB0", b"ver\rpgm\r" + read(self.amplifier6))
        self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")

    def test_each_refusal_sends_nothing(self):
        older = firmware(self.files, "Amplifier-v004.ace", 1, 4, 4096)
        same = firmware(self.files, "Amplifier-v005.ace", 1, 5, 4096)
        for case, model, path, allow, words in [
                ("another model", 2, self.amplifier6, False,
                 "This file is not meant for the connected equipment"),
                ("another model, older allowed", 2, self.amplifier6, True,
                 "This file is not meant for the connected equipment"),
                ("older", 1, older, False, "This file version is older than the current firmware"),
                ("same", 1, same, False,
                 "Your equipment already has the latest firmware installed")]:
            with self.subTest(case):
                self.setUp()
                self.load()
                self.start_update(model, path, allow)
                self.assertEqual(self.wait_status(lambda text: text.startswith(("This", "Your"))),
                                 words)
                for tty in ("ttyUSB0", "ttyUSB1"):
                    self.assertNotIn(b"pgm", self.bed.received(tty), tty)

    def test_cancel_asks_in_the_pages_own_dialog_then_stops(self):
        big = firmware(self.files, "Amplifier-big.ace", 1, 6, 400 * 1024)
        self.bed.configure("ttyUSB0", "reply=0105\nmode=paced\npaced_rate=20000")
        self.load()
        self.start_update(1, big)
        time.sleep(1.0)
        self.driver.find_element(By.XPATH, "//button[text()='Cancel']").click()
        dialog = self.driver.find_element(By.ID, "cancel-dialog")
        self.assertTrue(dialog.is_displayed())
        self.assertIn("Do you want to abort this update?", dialog.text)
        time.sleep(0.5)  # the transfer goes on while the question waits
        self.driver.find_element(By.ID, "cancel-yes").click()
        self.assertIn("Update cancelled", self.wait_status(lambda text: "cancelled" in text, 10))
        self.assertLess(len(self.bed.received("ttyUSB0")), 8 + 400 * 1024)

    def test_a_unit_that_stops_reading_fails_after_the_stall_limit(self):
        self.bed.configure("ttyUSB0", "reply=0105\nmode=stall\nstall_after=30000")
        big = firmware(self.files, "Amplifier-big.ace", 1, 6, 400 * 1024)
        self.load()
        self.start_update(1, big)
        started = time.monotonic()
        text = self.wait_status(lambda text: text.startswith("Error"), 30)
        self.assertTrue(text.startswith("Error writing data to Master COM port"), text)
        self.assertGreater(time.monotonic() - started, STALL_LIMIT_MS / 1000)
        self.assertLess(time.monotonic() - started, STALL_LIMIT_MS / 1000 + 5)

    def test_an_unplug_during_the_file_fails_at_once(self):
        self.bed.configure("ttyUSB0", "reply=0105\nmode=hangup\nhangup_after=30000")
        big = firmware(self.files, "Amplifier-big.ace", 1, 6, 400 * 1024)
        self.load()
        self.start_update(1, big)
        self.assertTrue(self.bed.wait_event("ttyUSB0", "pgm", 10))
        lost = time.monotonic()
        self.assertTrue(self.wait_status(lambda text: text.startswith("Error"), 10)
                        .startswith("Error writing data to Master COM port"))
        self.assertLess(time.monotonic() - lost, 1.0 + 30000 / 46080)

    def test_a_silent_unit_is_sent_a_file_only_through_the_recovery_choice(self):
        self.bed.configure("ttyUSB0", "mode=silent")
        self.load()
        self.assertIn("Orvane unit, not answering: the unit did not answer the version query",
                      self.units())
        self.driver.find_element(By.XPATH, "//ul[@id='units']/li[contains(., 'not answering')]"
                                 "//input").click()
        self.driver.find_element(By.ID, "file").send_keys(self.amplifier6)
        update = self.driver.find_element(By.XPATH, "//button[text()='Update']")
        self.assertFalse(update.is_enabled())
        self.driver.find_element(By.ID, "recover").click()
        # The second confirmation: no first, then yes.
        for send in (False, True):
            WebDriverWait(self.driver, 5).until(lambda driver: update.is_enabled())
            update.click()
            dialog = self.driver.find_element(By.ID, "recover-dialog")
            WebDriverWait(self.driver, 5).until(lambda driver: dialog.is_displayed())
            self.assertIn("It is for model 1, version 6", dialog.text)
            self.driver.find_element(By.ID, "recover-yes" if send else "recover-no").click()
            if not send:
                self.assertEqual(self.wait_status(lambda text: text == "Not sent."), "Not sent.")
                self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")
        self.assertEqual(self.wait_status(lambda text: text.startswith(("Your", "Error", "the"))),
                         COMPLETED)
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 64 * 1024)))
        # The listing's question, the update's own, then exactly "pgm\r" and the file.
        self.assert_sent_then_asked("ttyUSB0", b"ver\rver\rpgm\r" + read(self.amplifier6))

    def test_the_catalog_offers_the_newest_file_for_the_units_model(self):
        newest = self.image(1, 7, 8192)
        self.serve_catalog([("Amplifier-v006.ace", 1, 6, self.image(1, 6, 4096)),
                            ("Amplifier-v007.ace", 1, 7, newest),
                            ("Amplifier-v005.ace", 1, 5, self.image(1, 5, 4096)),
                            ("Mixer-v009.ace", 2, 9, self.image(2, 9, 4096))])
        self.load()
        self.assertEqual(sorted(self.units()), ["Orvane Amplifier, model 1, firmware version 005",
                                                "Orvane Mixer, model 2, firmware version 003"])
        for model, offered in [(2, "Mixer-v009.ace, version 009"),
                               (1, "Amplifier-v007.ace, version 007")]:
            self.choose_unit(model)
            self.assertEqual(self.wait_text("offer", lambda text: offered in text),
                             f"The catalog's newest file for this unit: {offered}")
        self.bed.clear("ttyUSB0")
        self.driver.find_element(By.XPATH, "//button[text()=\"Use the catalog's file\"]").click()
        self.assertEqual(self.wait_status(lambda text: "from the catalog" in text),
                         "Firmware file: Amplifier-v007.ace from the catalog (8192 bytes, as "
                         "listed)")
        self.driver.find_element(By.XPATH, "//button[text()='Update']").click()
        self.assertEqual(self.wait_status(lambda text: text.startswith(("Your", "Error", "This"))),
                         COMPLETED)
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 8192)))
        self.assert_sent_then_asked("ttyUSB0", b"ver\rpgm\r" + newest)

    def test_a_catalog_file_that_is_not_as_listed_is_refused(self):
        listed = self.image(1, 7, 8192)
        altered = bytearray(listed)
        altered[5000] ^= 0xFF
        relabelled = self.image(1, 8, 8192)
        for case, served, words in [
                ("SHA-256", bytes(altered), "its SHA-256 is %s, not %s" % (
                    hashlib.sha256(altered).hexdigest(), hashlib.sha256(listed).hexdigest())),
                ("size", listed + b"\0", "it has 8193 bytes, not 8192"),
                ("header", relabelled,
                 "its header names model 1, version 008, not model 1, version 007")]:
            with self.subTest(case):
                self.setUp()
                if case == "header":  # the catalog's checksum is the served file's own
                    listed = relabelled
                self.serve_catalog([("Amplifier-v007.ace", 1, 7, listed)],
                                   {"Amplifier-v007.ace": served})
                self.load()
                self.choose_unit(1)
                self.wait_text("offer", lambda text: "Amplifier-v007.ace" in text)
                self.driver.find_element(By.ID, "use-catalog").click()
                self.assertEqual(self.wait_status(lambda text: text.startswith("The file")),
                                 "The file Amplifier-v007.ace is not the one the catalog lists: "
                                 + words)
                self.assertFalse(self.driver.find_element(By.ID, "update").is_enabled())
                self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")

    def test_an_ambiguous_model_is_offered_no_file(self):
        self.serve_catalog([("Amplifier-v006.ace", 1, 6, self.image(1, 6, 4096)),
                            ("Amplifier-v007.ace", 1, 7, self.image(1, 7, 4096)),
                            ("Amplifier-v007-b.ace", 1, 7, self.image(1, 7, 8192))])
        self.load()
        self.choose_unit(1)
        self.assertEqual(self.wait_text("offer", lambda text: "ambiguous" in text),
                         "No file from the catalog: model 1 is ambiguous: Amplifier-v007.ace and "
                         "Amplifier-v007-b.ace are both version 007")
        self.assertFalse(self.driver.find_element(By.ID, "use-catalog").is_displayed())

    def restart(self, plug_first=()):
        """Updates the amplifier, which then stays silent (restarting) until its port drops and
        comes back as a new port, answering version 006; the ports in plug_first appear first."""
        self.bed.configure("ttyUSB0", "reply=0105\nreboot_ms=600000")
        self.load()
        self.start_update(1, self.amplifier6)
        self.assertEqual(self.wait_status(lambda text: text.startswith(("Your", "Error"))),
                         COMPLETED)
        self.wait_text("confirmation", lambda text: text.startswith("Asking the unit"))
        self.bed.remove("ttyUSB0")
        for tty in plug_first:
            self.bed.plug(tty)
            self.bed.pass_ioctls(tty)
        time.sleep(1.0)
        self.bed.configure("ttyUSB0", "reply=0106")
        self.bed.plug("ttyUSB0")
        self.bed.pass_ioctls("ttyUSB0")
        return self.wait_text("confirmation", lambda text: text.startswith("Version check"))

    def test_after_a_restart_on_a_new_port_the_page_confirms_the_new_version(self):
        self.assertEqual(self.restart(), "Version check: updated, version 006 confirmed")
        WebDriverWait(self.driver, 5).until(
            lambda driver: "Orvane unit, model 1, firmware version 006" in self.units())

    def test_two_returning_units_of_the_model_cannot_be_told_apart(self):
        try:
            self.assertEqual(self.restart(plug_first=["ttyUSB2"]),
                             "Version check: sent, not confirmed: the units cannot be told "
                             "apart: 2 units of its model answered")
        finally:
            self.bed.remove("ttyUSB2")

    def test_the_page_opens_from_its_cache_without_the_server(self):
        self.load()
        self.driver.execute_async_script(
            "const done = arguments[0]; navigator.serviceWorker.ready.then(() => done())")
        WebDriverWait(self.driver, 10).until(lambda driver: driver.execute_script(
            "return Boolean(navigator.serviceWorker.controller)") or driver.refresh())
        self.site.close()
        try:
            self.load()
            self.assertEqual(sorted(self.units()), ["Orvane unit, model 1, firmware version 005",
                                                    "Orvane unit, model 2, firmware version 003"])
        finally:
            type(self).site = Site()

    def test_the_page_fits_at_200_percent_zoom_and_in_a_narrow_window(self):
        for case, width, scale in [("200 % zoom", 640, 2), ("a phone-sized window", 360, 1)]:
            with self.subTest(case):
                self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                    "width": width // scale if scale > 1 else width, "height": 700,
                    "deviceScaleFactor": scale, "mobile": False})
                try:
                    self.load()
                    self.assertLessEqual(self.driver.execute_script(
                        "return document.documentElement.scrollWidth"), self.driver.execute_script(
                        "return document.documentElement.clientWidth"))
                finally:
                    self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def test_a_browser_without_web_serial_says_what_to_use(self):
        self.load("delete Navigator.prototype.serial;")
        problem = self.driver.find_element(By.ID, "problem").text
        self.assertIn("Firefox and Safari do not", problem)
        self.assertEqual(self.status(), "This browser cannot update equipment.")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
