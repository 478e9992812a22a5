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


if __name__ == "__main__":
    unittest.main()
