"""The native console program under umockdev: USB serial adapters laid out in /sys as the kernel
does, their /dev/ttyUSBn nodes leading to the simulated units. Run inside umockdev-wrapper with
Debian's /usr/bin/python3; ORVANE_UPDATE and ORVANE_SIM_EQUIPMENT name the programs."""
import fcntl
import json
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../sim/umockdev"))
from simbed import SimBed  # noqa: E402

TOOL = os.environ.get("ORVANE_UPDATE", "orvane-update")
EXIT_DONE, EXIT_USAGE, EXIT_NO_UNIT, EXIT_REFUSED, EXIT_FAILED, EXIT_CANCELLED = 0, 1, 2, 3, 4, 130


def bridge(tty, serial, product, reply, extra=""):
    return {"tty": tty, "vid": "10c4", "pid": "ea60", "serial": serial, "product": product,
            "unit": f"reply={reply}\n{extra}"}


AMPLIFIER = bridge("ttyUSB0", "ORV1001", "Orvane Amplifier", "0105", "xonxoff=1")
MIXER = bridge("ttyUSB1", "ORV2001", "Orvane Mixer", "0203")
# Devices the program must neither list nor open: another maker's adapter, a modem, a board's
# serial port. Each answers the version query, so a program that asked would find a unit.
OTHERS = [
    {"tty": "ttyUSB2", "vid": "0403", "pid": "6001", "serial": "A10K", "product": "FT232R USB UART",
     "unit": "reply=0105"},
    {"tty": "ttyACM0", "kind": "acm", "vid": "1546", "pid": "01a8", "serial": "M1",
     "product": "u-blox GNSS modem", "unit": "reply=0105"},
    {"tty": "ttyS0", "kind": "uart", "unit": "reply=0105"},
]


def product_texts():
    """The product texts shared with the Windows suite: (bytes the bridge reports, text)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../cli/product-texts.txt")
    with open(path, encoding="utf-8") as cases:
        rows = [line.rstrip("\n").split("\t") for line in cases if not line.startswith("#")]
    return [(re.sub(r"\\x([0-9a-f]{2})", lambda hexa: chr(int(hexa[1], 16)), raw).encode("latin-1"),
             text) for raw, text in rows]


def firmware(folder, name, model, version, size):
    """A firmware file: the header's text, then model and version as two ASCII digits each at
    257 and 259, zeros to 512 bytes, then the image."""
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(b"Orvane firmware image".ljust(257) + f"{model:02d}{version:02d}".encode())
        file.write(bytes(251) + bytes((i * 7 + i // 2048) & 0xFF for i in range(size - 512)))
    return path


def run(*args, timeout=60):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL, check=False)


class Bench(unittest.TestCase):
    devices = []

    @classmethod
    def setUpClass(cls):
        cls.bed = SimBed(cls.devices)
        cls.files = tempfile.mkdtemp(prefix="orvane-files.")
        cls.amplifier6 = firmware(cls.files, "Amplifier-v006.ace", 1, 6, 64 * 1024)

    @classmethod
    def tearDownClass(cls):
        cls.bed.close()
        subprocess.run(["rm", "-rf", cls.files], check=False)

    def setUp(self):
        for tty in self.bed.ports:
            self.bed.clear(tty)

    def expect(self, result, code, stdout=None, stderr=""):
        self.assertEqual(result.returncode, code, result.stdout + result.stderr)
        if stdout is not None:
            self.assertEqual(result.stdout, stdout)
        self.assertEqual(result.stderr, stderr)


class Listing(Bench):
    # The sysfs folders come in another order than the tty names: ttyUSB10 is plugged in first.
    devices = [bridge("ttyUSB10", "ORV1010", "Orvane Amplifier", "0107"), AMPLIFIER, *OTHERS,
               MIXER, bridge("ttyUSB3", "ORV1003", "Orvane Amplifier", "0104")]
    units = [("/dev/ttyUSB0", "Orvane Amplifier", "ORV1001", 1, "005"),
             ("/dev/ttyUSB1", "Orvane Mixer", "ORV2001", 2, "003"),
             ("/dev/ttyUSB3", "Orvane Amplifier", "ORV1003", 1, "004"),
             ("/dev/ttyUSB10", "Orvane Amplifier", "ORV1010", 1, "007")]

    def expect_others_untouched(self):
        for other in OTHERS:
            self.assertNotIn("open", self.bed.events(other["tty"]), other["tty"])
            self.assertEqual(self.bed.received(other["tty"]), b"", other["tty"])

    def test_list_shows_the_bridge_makers_adapters_in_tty_order_and_opens_nothing_else(self):
        lines = "".join(f'{port}  "{product}"  serial {serial}  model {model}  firmware {version}'
                        "  via device list\n" for port, product, serial, model, version in self.units)
        self.expect(run("list"), EXIT_DONE, lines)
        self.expect_others_untouched()

    def test_list_json(self):
        result = run("list", "--json")
        self.expect(result, EXIT_DONE)
        self.assertEqual(json.loads(result.stdout), [
            {"port": port, "product": product, "serial": serial, "model": model,
             "firmware": version, "source": "device list"}
            for port, product, serial, model, version in self.units])
        self.expect_others_untouched()

    def test_units_named_by_serial_or_port(self):
        # The link udev makes for an adapter names the same unit as its node.
        by_id = self.bed.testbed.get_root_dir() + "/dev/serial/by-id"
        os.makedirs(by_id, exist_ok=True)
        os.symlink("../../ttyUSB1", by_id + "/usb-Orvane_Mixer_ORV2001-if00-port0")
        header = f"File {self.amplifier6}: model 1, version 006, 65536 bytes\n"
        for args, code, stdout, stderr in [
            (["--serial", "ORV1003"], EXIT_DONE, header + "/dev/ttyUSB3 (Orvane Amplifier, serial "
             "ORV1003, model 1, firmware 004): accepted\n", ""),
            (["--serial", "ORV2001"], EXIT_REFUSED, header + "/dev/ttyUSB1 (Orvane Mixer, serial "
             "ORV2001, model 2, firmware 003): refused: This file is not meant for the connected "
             "equipment\n", ""),
            (["--serial", "A10K"], EXIT_NO_UNIT, header,
             'orvane-update: no Orvane equipment with serial "A10K"\n'),
            (["--port", "/dev/serial/by-id/usb-Orvane_Mixer_ORV2001-if00-port0"], EXIT_REFUSED,
             header + "/dev/ttyUSB1 (Orvane Mixer, serial ORV2001, model 2, firmware 003): refused: "
             "This file is not meant for the connected equipment\n", ""),
            (["--port", "/dev/ttyUSB2"], EXIT_NO_UNIT, header,
             "orvane-update: no Orvane equipment on /dev/ttyUSB2\n"),
            (["--port", "/dev/ttyACM0"], EXIT_NO_UNIT, header,
             "orvane-update: no Orvane equipment on /dev/ttyACM0\n"),
        ]:
            with self.subTest(args=args):
                self.expect(run("check", self.amplifier6, *args), code, stdout, stderr)
        self.expect_others_untouched()


class ProductTexts(Bench):
    devices = [bridge(f"ttyUSB{i}", f"ORV10{i}", product, "0105")
               for i, (product, _) in enumerate(product_texts())]

    def test_list_json_writes_each_product_as_utf8(self):
        result = subprocess.run([TOOL, "list", "--json"], capture_output=True, timeout=60,
                                stdin=subprocess.DEVNULL, check=False)
        self.assertEqual(result.returncode, EXIT_DONE, result.stderr)
        listed = json.loads(result.stdout.decode("utf-8"))
        self.assertEqual([unit["product"] for unit in listed],
                         [text for _, text in product_texts()])


class Unplugged(Bench):
    devices = [AMPLIFIER, MIXER]

    def test_a_removed_adapter_is_gone_from_the_list_and_cannot_be_named(self):
        self.bed.remove("ttyUSB1")
        self.expect(run("list"), EXIT_DONE, '/dev/ttyUSB0  "Orvane Amplifier"  serial ORV1001  '
                    "model 1  firmware 005  via device list\n")
        self.expect(run("update", self.amplifier6, "--port", "/dev/ttyUSB1", "--yes"), EXIT_NO_UNIT,
                    f"File {self.amplifier6}: model 1, version 006, 65536 bytes\n",
                    "orvane-update: no Orvane equipment on /dev/ttyUSB1\n")
        self.bed.remove("ttyUSB0")
        self.expect(run("list"), EXIT_NO_UNIT, "No Orvane equipment connected\n")
        self.assertNotIn("pgm", self.bed.events("ttyUSB0"))


class UpdateAll(Bench):
    devices = [AMPLIFIER, MIXER, bridge("ttyUSB2", "ORV1002", "Orvane Amplifier", "0105")]

    def test_the_file_goes_to_its_model_only(self):
        image = open(self.amplifier6, "rb").read()
        skipped = ["/dev/ttyUSB1", "ORV2001", "003",
                   "skipped: This file is not meant for the connected equipment"]
        for name, conf, code, rows_after_first in [
            ("all take it", "reply=0105", EXIT_DONE,
             [["/dev/ttyUSB2", "ORV1002", "005", "updated"], skipped]),
            # The write fails with EIO, or its wait sees the hang-up first (ENODEV).
            ("one hangs up", "reply=0105\nmode=hangup\nhangup_after=5000", EXIT_FAILED,
             [["/dev/ttyUSB2", "ORV1002", "005",
               "failed: Error writing data to Master COM port: (Input/output error \\(system error "
               "5\\)|No such device \\(system error 19\\))"], skipped]),
            # A unit that could not be checked received nothing, though the file may be its own.
            ("one is silent", "reply=0105\nmode=silent", EXIT_FAILED,
             [skipped, ["/dev/ttyUSB2", "ORV1002", "unknown",
                        "not checked: the unit did not answer the version query"]]),
        ]:
            with self.subTest(name):
                self.bed.configure("ttyUSB2", conf)
                self.setUp()
                outcome = run("update", self.amplifier6, "--all", "--yes")
                self.assertEqual(outcome.returncode, code, outcome.stdout + outcome.stderr)
                rows = [line.split("  ") for line in outcome.stdout.splitlines()[-3:]]
                rows = [[cell.strip() for cell in row if cell.strip()][:4] for row in rows]
                for row, expected in zip(rows[1:], rows_after_first):
                    self.assertRegex(row.pop(), "^" + expected[3] + "$")
                    self.assertEqual(row, expected[:3])
                self.assertEqual(rows[0], ["/dev/ttyUSB0", "ORV1001", "005", "updated"])
                self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(4 + len(image))))
                # The discovery's query, then exactly "pgm\r" and the file; the mixer only asked.
                self.assertEqual(self.bed.received("ttyUSB0"), b"ver\rpgm\r" + image)
                self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")
                # The line as another program left it (XON/XOFF on) came back at the close.
                self.assertIn("xonxoff=1", self.bed.events("ttyUSB0").splitlines()[-1])


class HeldPort(Bench):
    # The test bed's own pty behind the node: the test holds its other end.
    devices = [{**AMPLIFIER, "unit": None}]

    def test_a_port_locked_by_another_program_is_refused_and_gets_nothing(self):
        master = self.bed.pty_end("ttyUSB0")
        os.set_blocking(master, False)
        with open("/dev/ttyUSB0", "rb", buffering=0) as holder:
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            outcome = run("update", self.amplifier6, "--port", "/dev/ttyUSB0", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertIn("Device or resource busy", outcome.stderr)
        try:
            sent = os.read(master, 4096)
        except (BlockingIOError, OSError):
            sent = b""
        self.assertEqual(sent, b"")


class Cancel(Bench):
    # A slow unit, so that the update is still running when the signal comes.
    devices = [{**AMPLIFIER, "unit": "reply=0105\nxonxoff=1\nmode=paced\npaced_rate=20000"}]

    def test_a_signal_cancels_puts_the_line_back_and_exits_130(self):
        big = firmware(self.files, "Amplifier-big.ace", 1, 6, 400 * 1024)
        for sent in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sent.name):
                self.setUp()
                tool = subprocess.Popen([TOOL, "update", big, "--port", "/dev/ttyUSB0", "--yes"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        stdin=subprocess.DEVNULL)
                deadline = time.monotonic() + 10
                while len(self.bed.received("ttyUSB0")) < 30000 and time.monotonic() < deadline:
                    time.sleep(0.02)
                tool.send_signal(sent)
                stdout, _ = tool.communicate(timeout=5)
                self.assertEqual(tool.returncode, EXIT_CANCELLED, stdout)
                self.assertIn("Update cancelled: the unit may need the update again", stdout)
                self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes="))
                closes = [line for line in self.bed.events("ttyUSB0").splitlines()
                          if line.startswith("close")]
                self.assertEqual(len(closes), 2)  # the discovery's session and the update's
                self.assertIn("xonxoff=1", closes[-1])
                self.assertLess(len(self.bed.received("ttyUSB0")), 4 + 4 + 400 * 1024)


class Confirmation(Bench):
    devices = [AMPLIFIER]

    def test_the_question_goes_to_standard_error_when_the_output_is_redirected(self):
        terminal, answer = pty.openpty()
        tool = subprocess.Popen([TOOL, "update", self.amplifier6, "--port", "/dev/ttyUSB0"],
                                stdin=answer, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.close(answer)
        os.write(terminal, b"n\n")
        stdout, stderr = tool.communicate(timeout=30)
        os.close(terminal)
        self.assertEqual(tool.returncode, EXIT_CANCELLED, stdout + stderr)
        question = b"Update /dev/ttyUSB0 (serial ORV1001, firmware 005) to version 006? [y/N] "
        self.assertEqual(stderr, question)
        self.assertNotIn(b"[y/N]", stdout)
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")


class CancelBeforeProgram(Bench):
    devices = [AMPLIFIER]

    def test_a_signal_after_the_check_sends_nothing_more(self):
        # The output is a pipe of one page that the file's line fills but for one byte, so the
        # program stops in its next line, after its last look at the signal before the port is
        # opened; the signal comes there.
        header = f"File {self.amplifier6}: model 1, version 006, 65536 bytes\n".encode()
        output, tool_output = os.pipe()
        fcntl.fcntl(tool_output, fcntl.F_SETPIPE_SZ, 4096)
        os.write(tool_output, b"-" * (4096 - len(header) - 1))
        tool = subprocess.Popen([TOOL, "update", self.amplifier6, "--port", "/dev/ttyUSB0",
                                 "--yes"], stdout=tool_output, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)
        os.close(tool_output)
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=4"))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with open(f"/proc/{tool.pid}/wchan") as waiting:
                if waiting.read().endswith("pipe_write"):
                    break
            time.sleep(0.01)
        tool.send_signal(signal.SIGINT)
        with os.fdopen(output, "rb") as written:
            stdout = written.read()
        tool.wait(timeout=30)
        self.assertEqual(tool.returncode, EXIT_CANCELLED, stdout[-400:])
        # It was past the check: the line of the update's start was written.
        self.assertIn(b"Sending new firmware", stdout)
        self.bed.wait_event("ttyUSB0", "close bytes=", 2)
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")


class Watching:
    """orvane-update watch running in the background, its output lines gathered as they come."""

    def __init__(self, *args):
        self.tool = subprocess.Popen([TOOL, "watch", *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, stdin=subprocess.DEVNULL)
        self.lines, self.changed = [], threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.tool.stdout:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def events(self, pattern):
        """The event lines (time cut off) that match the regular expression."""
        return [line[21:] for line in self.lines if re.match(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  "
                                                              + pattern, line)]

    def wait_for(self, pattern, count=1, limit=10.0):
        with self.changed:
            self.changed.wait_for(lambda: len(self.events(pattern)) >= count, limit)
            return len(self.events(pattern)) >= count

    def stop(self, sent=signal.SIGINT):
        """Ctrl+C; returns the exit code and standard error."""
        self.tool.send_signal(sent)
        code = self.tool.wait(timeout=15)
        self.reader.join(timeout=5)
        errors = self.tool.stderr.read()
        self.tool.stdout.close()
        self.tool.stderr.close()
        return code, errors


def unit_on(tty, serial, reply, extra="", plugged=True):
    return {**bridge(tty, serial, "Orvane Amplifier", reply, extra), "plugged": plugged}


class Watch(Bench):
    devices = [unit_on("ttyUSB0", "W1", "0105", "xonxoff=1"), MIXER,
               unit_on("ttyUSB2", "W2", "0107"), unit_on("ttyUSB3", "W3", "0106"),
               unit_on("ttyUSB4", "W4", "0105", plugged=False)]

    def test_each_unit_is_updated_once_per_plug_in_and_the_others_are_reported(self):
        with open(self.amplifier6, "rb") as file:
            image = file.read()
        watch = Watching(self.amplifier6, "--yes")
        try:
            # The units attached at the start: one to update, another model, an older and an
            # equal version: those are reported, not sent.
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB0 "), watch.lines)
            self.assertTrue(watch.wait_for("refused /dev/ttyUSB3 "), watch.lines)
            for line in ["found /dev/ttyUSB0 (Orvane Amplifier, serial W1, model 1, firmware 005)",
                         "updating /dev/ttyUSB0 (serial W1)",
                         f"updated /dev/ttyUSB0 (serial W1): {len(image)} bytes in ",
                         "refused /dev/ttyUSB1 (serial ORV2001): This file is not meant for the "
                         "connected equipment",
                         "refused /dev/ttyUSB2 (serial W2): This file version is older than the "
                         "current firmware",
                         "refused /dev/ttyUSB3 (serial W3): Your equipment already has the latest "
                         "firmware installed"]:
                self.assertEqual(len(watch.events(re.escape(line))), 1, (line, watch.lines))

            # Plugged in later: noticed within a second and updated.
            plugged = time.monotonic()
            self.bed.plug("ttyUSB4")
            self.assertTrue(self.bed.wait_event("ttyUSB4", "open", limit=1.0),
                            self.bed.events("ttyUSB4"))
            self.assertLess(time.monotonic() - plugged, 1.0)
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB4 "), watch.lines)

            # Left plugged in: a second of looks later nothing has been opened again.
            time.sleep(1.0)
            for tty, sessions in [("ttyUSB0", 2), ("ttyUSB1", 1), ("ttyUSB2", 1), ("ttyUSB3", 1),
                                  ("ttyUSB4", 2)]:
                opens = [e for e in self.bed.events(tty).splitlines() if e.startswith("open")]
                self.assertEqual(len(opens), sessions, (tty, self.bed.events(tty)))
            self.assertEqual(self.bed.received("ttyUSB0"), b"ver\rpgm\r" + image)
            self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")

            # Unplugged and plugged back: handled again.
            self.bed.remove("ttyUSB4")
            self.assertTrue(watch.wait_for(re.escape("unplugged /dev/ttyUSB4 (serial W4)")))
            self.bed.plug("ttyUSB4")
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB4 ", count=2), watch.lines)
            self.assertTrue(self.bed.wait_event("ttyUSB4", "close bytes=" + str(4 + len(image))))
            self.assertEqual(self.bed.received("ttyUSB4"), (b"ver\rpgm\r" + image) * 2)
        finally:
            code, errors = watch.stop()
        self.assertEqual(code, EXIT_DONE, watch.lines)
        self.assertEqual(errors, "")
        self.assertEqual(watch.lines[-1], "Totals: 3 updated, 1 up to date, 2 refused, 0 failed")
        # The line as another program left it came back after the update.
        self.assertIn("xonxoff=1", self.bed.events("ttyUSB0").splitlines()[-1])


class WatchEnds(Bench):
    devices = [unit_on("ttyUSB0", "E1", "0105"), unit_on("ttyUSB1", "E2", "0105")]

    def test_ctrl_c_during_two_transfers_puts_both_lines_back_and_exits_130(self):
        big = firmware(self.files, "Amplifier-big.ace", 1, 6, 400 * 1024)
        for tty in ("ttyUSB0", "ttyUSB1"):
            self.bed.configure(tty, "reply=0105\nmode=paced\npaced_rate=20000\nxonxoff=1")
            self.bed.clear(tty)
        watch = Watching(big, "--yes")
        try:
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and min(
                    len(self.bed.received(tty)) for tty in ("ttyUSB0", "ttyUSB1")) < 30000:
                time.sleep(0.02)
        finally:
            code, _ = watch.stop()
        self.assertEqual(code, EXIT_CANCELLED, watch.lines)
        for tty in ("ttyUSB0", "ttyUSB1"):
            self.assertEqual(len(watch.events(f"cancelled /dev/{tty} ")), 1, watch.lines)
            self.assertTrue(self.bed.wait_event(tty, "close bytes="))
            closes = [e for e in self.bed.events(tty).splitlines() if e.startswith("close")]
            self.assertEqual(len(closes), 2, self.bed.events(tty))
            self.assertIn("xonxoff=1", closes[-1])
            self.assertLess(len(self.bed.received(tty)), 4 + 4 + 400 * 1024)
        self.assertEqual(watch.lines[-1],
                         "Totals: 0 updated, 0 up to date, 0 refused, 0 failed, 2 cancelled")

    def test_a_unit_that_fails_or_does_not_answer_ends_the_watch_with_4(self):
        for name, conf, line in [
            ("one hangs up", "reply=0105\nmode=hangup\nhangup_after=5000",
             "failed /dev/ttyUSB1 (serial E2): Error writing data to Master COM port"),
            ("one does not answer", "mode=silent",
             "failed /dev/ttyUSB1 (serial E2): the unit did not answer the version query"),
        ]:
            with self.subTest(name):
                self.bed.configure("ttyUSB0", "reply=0106")
                self.bed.configure("ttyUSB1", conf)
                self.setUp()
                watch = Watching(self.amplifier6, "--yes")
                self.assertTrue(watch.wait_for(re.escape(line)), watch.lines)
                self.assertTrue(watch.wait_for("refused /dev/ttyUSB0 "), watch.lines)
                self.assertEqual(watch.stop()[0], EXIT_FAILED, watch.lines)
                self.assertEqual(watch.lines[-1],
                                 "Totals: 0 updated, 1 up to date, 0 refused, 1 failed")

if __name__ == "__main__":
    unittest.main()
