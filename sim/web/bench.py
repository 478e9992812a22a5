"""The page's figures (a benchmark, not a test): how soon it is ready (engine loaded, granted
ports listed and asked) after it is opened from the local server, and how long 1 MiB takes to a
unit paced at 460800 baud, beside the line-rate floor. Runs inside webbed.sh; argument: a
folder for the firmware file."""
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from simbed import SimBed
from webpage import COMPLETED, URL, Browser, Site, bridge, firmware, read


def main():
    image = firmware(sys.argv[1], "Amplifier-1MiB.ace", 1, 6, 1024 * 1024)
    devices = [bridge("ttyUSB0", "B1", "0105", "mode=paced")]
    bed = SimBed(devices)
    bed.pass_ioctls("ttyUSB0")
    site, browser = Site(), Browser()
    driver = browser.driver
    try:
        ready = []
        for _ in range(3):
            driver.get("about:blank")
            opened = time.monotonic()
            driver.get(URL)
            WebDriverWait(driver, 10).until(lambda driver: driver.find_element(
                By.TAG_NAME, "body").get_attribute("data-ready"))
            ready.append(time.monotonic() - opened)
        print("page ready (engine loaded, 1 unit listed and asked): " +
              ", ".join(f"{seconds:.2f} s" for seconds in ready))
        bed.clear("ttyUSB0")
        driver.find_element(By.CSS_SELECTOR, "#units input").click()
        driver.find_element(By.ID, "file").send_keys(image)
        started = time.monotonic()
        driver.find_element(By.XPATH, "//button[text()='Update']").click()
        status = driver.find_element(By.CSS_SELECTOR, "[role=status]")
        WebDriverWait(driver, 120).until(lambda driver: status.text == COMPLETED or
                                         status.text.startswith("Error"))
        took = time.monotonic() - started
        floor = (4 + 4 + 1024 * 1024) / 46080
        bed.wait_event("ttyUSB0", f"close bytes={8 + 1024 * 1024}", 10)
        exact = bed.received("ttyUSB0") == b"ver\rpgm\r" + read(image)
        print(f"1 MiB to a unit paced at 460800 baud: {took:.2f} s from Update to "
              f"\"{status.text}\" (floor {floor:.2f} s, {100 * (took / floor - 1):+.1f} %); "
              f"received exactly: {exact}")
        return 0 if exact else 1
    finally:
        browser.close()
        site.close()
        bed.close()


if __name__ == "__main__":
    sys.exit(main())
