"""The web page with two simulated units: an amplifier (model 1, firmware 005) on /dev/ttyUSB0
and a mixer (model 2, firmware 003) on /dev/ttyUSB1. With a display, Chromium opens the page
there for you to use, until you close it. Without one, a scripted user updates the amplifier in
headless Chromium, keeps screenshots of the page (also at 200 % zoom) and says what the unit
received. Runs inside webbed.sh; arguments: the firmware folder, the screenshots' folder."""
import os
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from simbed import SimBed
from webpage import COMPLETED, URL, Browser, Site, bridge, firmware, read


def main():
    files, shots = sys.argv[1], sys.argv[2]
    display = bool(os.environ.get("DISPLAY")) and os.environ.get("ORVANE_WEB_DEMO") != "1"
    amplifier = firmware(files, "Amplifier-v006.ace", 1, 6, 180 * 1024)
    firmware(files, "Mixer-v004.ace", 2, 4, 160 * 1024)
    devices = [{**bridge("ttyUSB0", "ORV1001", "0105", "mode=paced")},
               {**bridge("ttyUSB1", "ORV2001", "0203"), "product": "Orvane Mixer"}]
    bed = SimBed(devices)
    for device in devices:
        bed.pass_ioctls(device["tty"])
    site = Site()
    browser = Browser(headless=not display)
    try:
        print(f"The page: {URL}; firmware files in {files}", file=sys.stderr)
        if display:
            browser.driver.get(URL)
            print("Close the browser to end.", file=sys.stderr)
            browser.process.wait()
            return 0
        return scripted(browser.driver, bed, amplifier, shots)
    finally:
        browser.close()
        site.close()
        bed.close()


def scripted(driver, bed, amplifier, shots):
    os.makedirs(shots, exist_ok=True)
    driver.set_window_size(900, 1000)
    driver.get(URL)
    WebDriverWait(driver, 10).until(
        lambda driver: driver.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    driver.save_screenshot(f"{shots}/web-ready.png")
    driver.find_element(By.XPATH, "//ul[@id='units']/li[contains(., 'model 1,')]//input").click()
    driver.find_element(By.ID, "file").send_keys(amplifier)
    driver.find_element(By.XPATH, "//button[text()='Update']").click()
    status = driver.find_element(By.CSS_SELECTOR, "[role=status]")
    WebDriverWait(driver, 10).until(lambda driver: driver.find_element(
        By.TAG_NAME, "progress").get_attribute("value") not in ("0", "100"))
    time.sleep(1.5)
    driver.save_screenshot(f"{shots}/web-progress.png")
    WebDriverWait(driver, 60).until(lambda driver: status.text == COMPLETED or
                                    status.text.startswith(("Error", "the unit", "This")))
    driver.save_screenshot(f"{shots}/web-done.png")
    # 200 % zoom: the page at twice the scale in the same window.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 450, "height": 500, "deviceScaleFactor": 2, "mobile": False})
    driver.save_screenshot(f"{shots}/web-200.png")
    # A phone-sized window in the dark colour scheme.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 360, "height": 760, "deviceScaleFactor": 1, "mobile": True})
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                           {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
    driver.save_screenshot(f"{shots}/web-narrow-dark.png")
    print(f"The page says: {status.text}")
    image = read(amplifier)
    bed.wait_event("ttyUSB0", f"close bytes={8 + len(image)}", 10)
    received = bed.received("ttyUSB0")
    questions = 0
    while received.startswith(b"ver\r"):
        received = received[4:]
        questions += 1
    print(f"The amplifier was asked for its version {questions} times (the page's listing, and "
          f"the update's own question on the port it opened), then received {len(received)} "
          "bytes.")
    if status.text == COMPLETED and received == b"pgm\r" + image:
        print('They are exactly "pgm\\r" followed by the file.')
        print(f"Screenshots: {shots}/web-*.png")
        return 0
    print("They are not the program command and the file.", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
