"""The native console program under umockdev: USB serial adapters laid out in /sys as the kernel
does, their /dev/ttyUSBn nodes leading to the simulated units. Run inside umockdev-wrapper with
Debian's /usr/bin/python3; ORVANE_UPDATE and ORVANE_SIM_EQUIPMENT name the programs."""
import csv
import fcntl
import hashlib
import io
import json
import os
import pty
import re
import shutil
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
EXIT_UNCONFIRMED, EXIT_NOT_RECORDED = 5, 6


def updated_with(image):
    """What a unit updated with image received: the search's question, the update's own question
    on the port it opened, then the program command and the file."""
    return b"ver\rver\rpgm\r" + image


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


def other_device_cases():
    """The other-device cases shared with the Windows suite: (product or None, the unit's conf,
    what list calls it, the exit code of update --all)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../cli/other-device-cases.txt")
    with open(path, encoding="utf-8") as cases:
        rows = [line.rstrip("\n").split("\t") for line in cases if not line.startswith("#")]
    return [(None if product == "-" else product, conf.replace(";", "\n"), kind, int(code))
            for product, conf, kind, code in rows]


def verify_cases():
    """The --verify cases shared with the Windows suite: (name, the unit's conf, the wait's limit
    in ms or None, exit code, the unit's result)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../cli/verify-cases.txt")
    with open(path, encoding="utf-8") as cases:
        rows = [line.rstrip("\n").split("\t") for line in cases if not line.startswith("#")]
    return [(name, conf.replace(";", "\n"), None if limit == "-" else limit, int(code), result)
            for name, conf, limit, code, result in rows]


def option_cases():
    """The command line cases shared with the Windows suite: (arguments, exit code, stream, the
    start of what it says)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../cli/option-cases.txt")
    with open(path, encoding="utf-8") as cases:
        rows = [line.rstrip("\n").split("\t") for line in cases if not line.startswith("#")]
    return [(args, int(code), said.split(":", 1)[0], said.split(":", 1)[1].replace("\\n", "\n"))
            for args, code, said in rows]


def on_terminal(args, columns, env=None):
    """The program run with its output on a pseudo-terminal of that width: its exit code and
    the bytes the terminal received."""
    import struct
    import termios
    terminal, program_end = pty.openpty()
    fcntl.ioctl(program_end, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    for name, value in (env or {}).items():
        os.environ[name] = value
    try:
        tool = subprocess.Popen([TOOL, *args], stdout=program_end, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)
    finally:
        for name in env or {}:
            del os.environ[name]
    os.close(program_end)
    received = b""
    while True:
        try:
            chunk = os.read(terminal, 65536)
        except OSError:
            break
        if not chunk:
            break
        received += chunk
    tool.wait(timeout=60)
    os.close(terminal)
    return tool.returncode, received


def json_events(text):
    """Each line of standard output as its JSON object: nothing else may be there."""
    return [json.loads(line) for line in text.splitlines()]


def firmware(folder, name, model, version, size):
    """A firmware file: the header's text, then model and version as two ASCII digits each at
    257 and 259, zeros to 512 bytes, then the image."""
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(b"Orvane firmware image".ljust(257) + f"{model:02d}{version:02d}".encode())
        file.write(bytes(251) + bytes((i * 7 + i // 2048) & 0xFF for i in range(size - 512)))
    return path


# A user who is not root and in no group, for the runs that must meet a port's permission.
AS_NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
DIALOUT_GID = 20


def run(*args, timeout=90, env=None, cwd=None, as_nobody=False):
    # The test bed's own variables are in the process's environment, not in os.environ: the
    # program inherits that environment, with env's variables put in for its run.
    for name, value in (env or {}).items():
        os.environ[name] = value
    try:
        return subprocess.run([*(AS_NOBODY if as_nobody else []), TOOL, *args], capture_output=True, text=True, timeout=timeout,
                              stdin=subprocess.DEVNULL, check=False, cwd=cwd)
    finally:
        for name in env or {}:
            del os.environ[name]


def read(path):
    with open(path, "rb") as file:
        return file.read()


def file_line(path):
    """The line that names a firmware file: its model, version and size."""
    header = read(path)[:261]
    return (f"File {path}: model {int(header[257:259])}, version {int(header[259:261]):03d}, "
            f"{os.path.getsize(path)} bytes")


RECORD_HEADER = ["time", "host", "port", "serial", "product", "model", "old version",
                 "firmware file", "sha256", "new version", "result", "bytes", "seconds",
                 "confirmed"]


def record_rows(path):
    """The record's rows as RFC 4180 reads them, after checking that every line ends in CRLF and
    that the header comes once, first."""
    raw = read(path)
    text = raw.decode()
    assert raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b""), raw
    rows = list(csv.reader(io.StringIO(text, newline="")))
    assert rows[0] == RECORD_HEADER, rows[0]
    assert RECORD_HEADER not in rows[1:], text
    return [dict(zip(RECORD_HEADER, row)) for row in rows[1:]]


class Bench(unittest.TestCase):
    devices = []
    driver = True  # the bridge's kernel driver is loaded

    @classmethod
    def setUpClass(cls):
        cls.bed = SimBed(cls.devices, driver=cls.driver)
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
                        "  via sysfs\n" for port, product, serial, model, version in self.units)
        self.expect(run("list"), EXIT_DONE, lines)
        self.expect_others_untouched()

    def test_list_json(self):
        result = run("list", "--json")
        self.expect(result, EXIT_DONE)
        self.assertEqual(json.loads(result.stdout), [
            {"port": port, "product": product, "serial": serial, "model": model,
             "firmware": version, "source": "sysfs", "kind": "unit"}
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
                    "model 1  firmware 005  via sysfs\n")
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
                self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + len(image))))
                # The discovery's query, then exactly "pgm\r" and the file; the mixer only asked.
                self.assertEqual(self.bed.received("ttyUSB0"), updated_with(image))
                self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")
                # The line as another program left it (XON/XOFF on) came back at the close.
                self.assertIn("xonxoff=1", self.bed.events("ttyUSB0").splitlines()[-1])


class HeldPort(Bench):
    # The test bed's own pty behind the node: the test holds its other end.
    devices = [{**AMPLIFIER, "unit": None}]

    def test_a_port_locked_by_another_program_fails_and_gets_nothing(self):
        master = self.bed.pty_end("ttyUSB0")
        os.set_blocking(master, False)
        with open("/dev/ttyUSB0", "rb", buffering=0) as holder:
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            outcome = run("update", self.amplifier6, "--port", "/dev/ttyUSB0", "--yes")
        # A unit that could not be asked was not refused by the check: the run failed.
        self.assertEqual(outcome.returncode, EXIT_FAILED, outcome.stdout + outcome.stderr)
        self.assertIn("Device or resource busy", outcome.stderr)
        try:
            sent = os.read(master, 4096)
        except (BlockingIOError, OSError):
            sent = b""
        self.assertEqual(sent, b"")


class Permission(Bench):
    # The test bed's own ptys behind the nodes, owned as a real ttyUSB is: root:dialout 0660.
    devices = [{**AMPLIFIER, "unit": None}, {**MIXER, "unit": None}]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for tty in ("ttyUSB0", "ttyUSB1"):
            cls.bed.own(tty, 0, DIALOUT_GID, 0o660)

    def sent(self, tty):
        end = self.bed.pty_end(tty)
        os.set_blocking(end, False)
        try:
            return os.read(end, 4096)
        except (BlockingIOError, OSError):
            return b""

    def test_list_says_which_ports_may_not_be_opened_and_how_to_get_them(self):
        fix = ("; sudo usermod -aG dialout $USER, then log in again (the port's group: the way for "
               "a login over ssh and for a service); or install orvane-update's udev rule, which "
               "gives the user at the machine's own seat access\n")
        denied = "Error opening Master COM port: Permission denied (system error 13)"
        outcome = run("list", as_nobody=True)
        # No unit could be asked: the list has failed, and says why for each port.
        self.expect(outcome, EXIT_NO_UNIT,
                    '/dev/ttyUSB0  "Orvane Amplifier"  serial ORV1001  model unknown  firmware '
                    'unknown  via sysfs\n/dev/ttyUSB1  "Orvane Mixer"  serial ORV2001  model unknown'
                    '  firmware unknown  via sysfs\n',
                    f"orvane-update: /dev/ttyUSB0: {denied}{fix}"
                    f"orvane-update: /dev/ttyUSB1: {denied}{fix}")
        self.assertEqual((self.sent("ttyUSB0"), self.sent("ttyUSB1")), (b"", b""))
        # One port it may open: that unit was asked, so the list stands; the other is still said.
        self.bed.own("ttyUSB1", 0, DIALOUT_GID, 0o666)
        try:
            outcome = run("list", as_nobody=True)
        finally:
            self.bed.own("ttyUSB1", 0, DIALOUT_GID, 0o660)
        self.expect(outcome, EXIT_DONE, stderr=f"orvane-update: /dev/ttyUSB0: {denied}{fix}")
        self.assertEqual(self.sent("ttyUSB1"), b"ver\r")
        self.assertEqual(self.sent("ttyUSB0"), b"")
        # As root the same ports open: the advice is only for want of permission.
        self.expect(run("list"), EXIT_DONE, stderr="")


class OtherDevices(Bench):
    # One unit the file is meant for, then a bridge per shared case.
    cases = other_device_cases()
    devices = [bridge("ttyUSB0", "G0", "Orvane Amplifier", "0105")] + [
        {**bridge(f"ttyUSB{i}", f"C{i}", product, "0105"), "unit": conf}
        for i, (product, conf, _, _) in enumerate(cases, start=1)]

    def test_a_silent_bridge_not_named_orvane_is_another_device_and_no_unit(self):
        listed = json.loads(run("list", "--json").stdout)
        self.assertEqual([unit["kind"] for unit in listed],
                         ["unit"] + [kind for _, _, kind, _ in self.cases])
        text = run("list").stdout.splitlines()
        self.assertEqual(text[2], '/dev/ttyUSB2  "CP2102N USB to UART Bridge Controller"  serial C2'
                         "  another device, not Orvane equipment: it did not answer and its "
                         "product string does not name Orvane  via sysfs")
        # watch reports it as another device, neither failed nor counted.
        watch = Watching(self.amplifier6, "--yes")
        try:
            self.assertTrue(watch.wait_for(re.escape(
                "other /dev/ttyUSB2 (serial C2): another device, not Orvane equipment")), watch.lines)
            self.assertTrue(watch.wait_for("failed /dev/ttyUSB4 "), watch.lines)
        finally:
            watch.stop()
        self.assertFalse(watch.events("failed /dev/ttyUSB2 "), watch.lines)
        self.assertEqual(watch.lines[-1],
                         "Totals: 1 updated, 0 up to date, 1 refused, 2 failed")
        ttys = [f"ttyUSB{i}" for i in range(1, len(self.cases) + 1)]
        for tty in ttys:
            self.bed.remove(tty)
        try:
            for tty, (product, conf, kind, code) in zip(ttys, self.cases):
                with self.subTest(product=product, conf=conf):
                    self.bed.plug(tty)
                    self.setUp()
                    outcome = run("update", self.amplifier6, "--all", "--yes")
                    self.bed.remove(tty)
                    self.assertEqual(outcome.returncode, code, outcome.stdout + outcome.stderr)
                    self.assertEqual(tty in outcome.stdout, kind == "unit", outcome.stdout)
                    self.assertNotIn("pgm", self.bed.events(tty))
        finally:
            for tty in ttys:
                self.bed.plug(tty)


COMPLETION = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "../../packaging/linux/orvane-update.bash")


def completions(line, cwd=None):
    """What an interactive bash with the completion loaded offers at the end of line: the words
    as bash splits them go in COMP_WORDS, the last one's index in COMP_CWORD, then the function
    that complete -p names for orvane-update runs."""
    words = re.findall(r"[^ =]+|=", line) + ([""] if line.endswith((" ", "=")) else [])
    script = (f"source {COMPLETION}\n"
              "function=$(complete -p orvane-update | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p')\n"
              f"COMP_WORDS=({' '.join(repr(w) for w in words)})\n"
              f"COMP_CWORD={len(words) - 1}\nCOMP_LINE={line!r}\nCOMP_POINT={len(line)}\n"
              "\"$function\" orvane-update \"${COMP_WORDS[COMP_CWORD]}\" "
              "\"${COMP_WORDS[COMP_CWORD-1]}\"\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n")
    result = subprocess.run(["bash", "--norc", "-i", "-c", script], capture_output=True, text=True,
                            timeout=30, stdin=subprocess.DEVNULL, cwd=cwd, check=False)
    assert result.returncode == 0, result.stderr
    return sorted(word for word in result.stdout.splitlines() if word)


class Completion(Bench):
    devices = [AMPLIFIER, MIXER, OTHERS[2]]

    def test_commands_options_files_and_ports_and_no_port_is_opened(self):
        registered = subprocess.run(["bash", "--norc", "-i", "-c", f"source {COMPLETION}; "
                                     "complete -p orvane-update"], capture_output=True, text=True,
                                    stdin=subprocess.DEVNULL, timeout=30, check=False)
        self.assertEqual(registered.stdout, "complete -F _orvane_update orvane-update\n")
        by_id = self.bed.testbed.get_root_dir() + "/dev/serial/by-id"
        os.makedirs(by_id, exist_ok=True)
        link = by_id + "/usb-Orvane_Mixer_ORV2001-if00-port0"
        if not os.path.lexists(link):
            os.symlink("../../ttyUSB1", link)
        for name in ("Mixer-v004.ace", "notes.txt", "bench.csv"):
            open(os.path.join(self.files, name), "w").close()
        os.makedirs(os.path.join(self.files, "older"), exist_ok=True)
        ports = ["/dev/serial/by-id/usb-Orvane_Mixer_ORV2001-if00-port0", "/dev/ttyUSB0",
                 "/dev/ttyUSB1"]
        for line, offered in [
            ("orvane-update ", ["--help", "--version", "-V", "-h", "check", "doctor", "list",
                                "update", "watch"]),
            ("orvane-update u", ["update"]),
            ("orvane-update help w", ["watch"]),
            ("orvane-update watch x.ace --", ["--allow-downgrade", "--help", "--json", "--quiet",
                                              "--record", "--verbose", "--verify", "--yes"]),
            ("orvane-update check x.ace --", ["--help", "--json", "--port", "--quiet", "--serial",
                                              "--verbose"]),
            ("orvane-update doctor -", ["--help", "--json", "--quiet", "--verbose", "-h", "-q",
                                        "-v"]),
            # The ports present, the board's built-in ttyS0 not among them.
            ("orvane-update update x.ace --port ", ports),
            ("orvane-update update x.ace -p /dev/ttyUSB", ["/dev/ttyUSB0", "/dev/ttyUSB1"]),
            ("orvane-update check x.ace --port=/dev/tty", ["/dev/ttyUSB0", "/dev/ttyUSB1"]),
            ("orvane-update update ", ["Amplifier-v006.ace", "Mixer-v004.ace", "older"]),
            ("orvane-update update M", ["Mixer-v004.ace"]),
            ("orvane-update update x.ace --record ", ["bench.csv", "older"]),
            ("orvane-update update x.ace --serial ", []),
        ]:
            with self.subTest(line):
                self.assertEqual(completions(line, cwd=self.files), offered)
        # A Tab reads names only: no port was opened, no unit asked.
        for tty in ("ttyUSB0", "ttyUSB1", "ttyS0"):
            self.assertNotIn("open", self.bed.events(tty), tty)
            self.assertEqual(self.bed.received(tty), b"", tty)


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


class Folder(Bench):
    devices = [AMPLIFIER, MIXER, bridge("ttyUSB2", "ORV3001", "Orvane Recorder", "0302"),
               bridge("ttyUSB3", "ORV1003", "Orvane Amplifier", "0106")]

    def test_each_unit_gets_the_newest_file_for_its_model(self):
        folder = tempfile.mkdtemp(dir=self.files)
        files = [("Amplifier-v005.ace", 1, 5, 4096), ("Amplifier-v006.ace", 1, 6, 64 * 1024),
                 # The same bytes again under another name: not ambiguous.
                 ("Backup-Amplifier-v006.ace", 1, 6, 64 * 1024),
                 ("Mixer-a.ace", 2, 4, 2048), ("Mixer-b.ace", 2, 4, 3072)]
        names = {name: firmware(folder, name, model, version, size)
                 for name, model, version, size in files}
        with open(os.path.join(folder, "broken.ace"), "wb") as short:
            short.write(bytes(100))
        with open(os.path.join(folder, "notes.txt"), "w") as notes:
            notes.write("not firmware")
        os.mkdir(os.path.join(folder, "old"))
        firmware(os.path.join(folder, "old"), "Amplifier-v009.ace", 1, 9, 2048)
        files = "".join(file_line(names[name]) + "\n" for name in sorted(names))
        broken = ("orvane-update: Source file too short to retrieve header information: "
                  f"{folder}/broken.ace (left out)\n")
        ambiguous = ("model 2 is ambiguous: Mixer-a.ace and Mixer-b.ace are both version 004")
        no_file = ("This file is not meant for the connected equipment (no file in the folder is "
                   "for model 3)")
        self.expect(run("check", folder), EXIT_DONE, files +
                    "/dev/ttyUSB0 (Orvane Amplifier, serial ORV1001, model 1, firmware 005): "
                    "Amplifier-v006.ace (version 006): accepted\n"
                    "/dev/ttyUSB1 (Orvane Mixer, serial ORV2001, model 2, firmware 003): refused: "
                    f"{ambiguous}\n"
                    "/dev/ttyUSB2 (Orvane Recorder, serial ORV3001, model 3, firmware 002): "
                    f"refused: {no_file}\n"
                    "/dev/ttyUSB3 (Orvane Amplifier, serial ORV1003, model 1, firmware 006): "
                    "Amplifier-v006.ace (version 006): refused: Your equipment already has the "
                    "latest firmware installed\n", broken)

        # The ambiguous model is refused, and the run says so in its exit code; the others go on.
        self.setUp()
        outcome = run("update", folder, "--all", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertEqual(outcome.stderr, broken)
        self.assertIn(f"refused: {ambiguous}", outcome.stdout)
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 64 * 1024)))
        self.assertEqual(self.bed.received("ttyUSB0"),
                         updated_with(read(names["Amplifier-v006.ace"])))
        for tty in ("ttyUSB1", "ttyUSB2", "ttyUSB3"):
            self.assertEqual(self.bed.received(tty), b"ver\r", tty)

        # Once the folder is no longer ambiguous, the mixer gets its file.
        os.remove(names["Mixer-b.ace"])
        self.setUp()
        outcome = run("update", folder, "--serial", "ORV2001", "--yes")
        self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stdout + outcome.stderr)
        self.assertIn("/dev/ttyUSB1 (serial ORV2001, firmware 003) with Mixer-a.ace (version 004)",
                      outcome.stdout)
        self.assertTrue(self.bed.wait_event("ttyUSB1", "close bytes=" + str(8 + 2048)))
        self.assertEqual(self.bed.received("ttyUSB1"),
                         updated_with(read(names["Mixer-a.ace"])))

    def test_a_folder_without_usable_files(self):
        empty = tempfile.mkdtemp(dir=self.files)
        self.expect(run("check", empty), EXIT_USAGE, "",
                    f'orvane-update: no firmware file (.ace) in "{empty}" can be used\n')
        # Usable files, but none for these units: the folder is named as such.
        firmware(empty, "Sampler-v001.ace", 9, 1, 2048)
        outcome = run("update", empty, "--all", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertTrue(outcome.stderr.endswith(
            "no unit to update: no file in the folder is meant for any of them\n"), outcome.stderr)


class Verify(Bench):
    devices = [AMPLIFIER]

    def test_the_unit_is_asked_for_the_new_version_after_the_last_byte(self):
        sent = "/dev/ttyUSB0: sent; asking the unit for version 006\n"
        cases = verify_cases()
        self.assertEqual(len(cases), 3)
        for name, conf, limit, code, result in cases:
            with self.subTest(name):
                self.bed.configure("ttyUSB0", "reply=0105\nxonxoff=1\n" + conf)
                self.setUp()
                started = time.monotonic()
                outcome = run("update", self.amplifier6, "--port", "/dev/ttyUSB0", "--yes",
                              "--verify", env={"ORVANE_VERIFY_LIMIT_MS": limit} if limit else None)
                took = time.monotonic() - started
                self.assertEqual(outcome.returncode, code, outcome.stdout + outcome.stderr)
                said = "" if code == EXIT_DONE else f"orvane-update: /dev/ttyUSB0: {result}\n"
                self.assertEqual(outcome.stderr, said)
                self.assertIn(sent, outcome.stdout)
                if code == EXIT_DONE:
                    self.assertRegex(outcome.stdout.splitlines()[-1], r"^Your equipment has been "
                                     r"successfully updated \(/dev/ttyUSB0, 65536 bytes in "
                                     r"[0-9.]+ s\), version 006 confirmed$")
                    self.assertGreater(took, 1.5)  # the unit restarts for 1.5 s
                else:
                    self.assertGreater(took, int(limit) / 1000)
                # Asked again and again, on the port opened anew each time; nothing else sent.
                sessions = self.bed.events("ttyUSB0").split(" firmware=65536 ", 1)[1]
                self.assertGreaterEqual(sessions.count("\nver\n"), 2)
                self.assertGreaterEqual(sessions.count("open "), 2)
                self.assertEqual(self.bed.received("ttyUSB0").count(b"pgm\r"), 1)


class Record(Bench):
    # Texts from the device that a spreadsheet would run, or that need quoting.
    devices = [bridge("ttyUSB0", "=ORV1", 'Orvane "Amp", A', "0105", "updated_reply=0106"),
               bridge("ttyUSB1", "@ORV2", "Orvane Mixer", "0203")]

    def test_one_row_per_unit_appended_whole(self):
        record = os.path.join(self.files, "bench.csv")
        # The user's file name starts with "=", as a relative path does.
        image = os.path.join(self.files, "=Amp.ace")
        os.link(self.amplifier6, image)
        digest = hashlib.sha256(read(image)).hexdigest()
        for _ in range(2):
            self.bed.configure("ttyUSB0", "reply=0105\nupdated_reply=0106")
            self.setUp()
            outcome = run("update", "=Amp.ace", "--all", "--yes", "--verify", "--record", record,
                          cwd=self.files)
            self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stdout + outcome.stderr)
        rows = record_rows(record)
        self.assertEqual(len(rows), 4)
        for row in rows:
            self.assertRegex(row.pop("time"), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
            self.assertEqual(row.pop("host"), os.uname().nodename)
        amplifier = {"port": "/dev/ttyUSB0", "serial": "'=ORV1", "product": 'Orvane "Amp", A',
                     "model": "1", "old version": "005", "firmware file": "'=Amp.ace",
                     "sha256": digest, "new version": "006",
                     "result": "updated, version 006 confirmed", "bytes": "65536",
                     "confirmed": "yes"}
        mixer = {"port": "/dev/ttyUSB1", "serial": "'@ORV2", "product": "Orvane Mixer",
                 "model": "2", "old version": "003", "firmware file": "'=Amp.ace",
                 "sha256": digest, "new version": "006",
                 "result": "skipped: This file is not meant for the connected equipment",
                 "bytes": "0", "seconds": "", "confirmed": "no"}
        for run_rows in (rows[:2], rows[2:]):
            self.assertEqual(run_rows[0], mixer)  # refused before the transfers start
            self.assertRegex(run_rows[1].pop("seconds"), r"^\d+\.\d$")
            self.assertEqual(run_rows[1], amplifier)

    def test_two_programs_at_once_and_a_record_that_cannot_be_written(self):
        older = firmware(self.files, "Amplifier-v005.ace", 1, 5, 4096)
        for round in range(3):
            record = os.path.join(self.files, f"shared-{round}.csv")
            tools = [subprocess.Popen([TOOL, "update", older, "--port", port, "--yes", "--record",
                                       record], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL, text=True)
                     for port in ("/dev/ttyUSB0", "/dev/ttyUSB1")]
            for tool in tools:
                tool.communicate(timeout=30)
                # Each asks both units: one held by the other program at that moment could not be
                # checked, which fails the run instead of refusing it.
                self.assertIn(tool.returncode, (EXIT_REFUSED, EXIT_FAILED))
            rows = record_rows(record)
            self.assertEqual(sorted(row["port"] for row in rows), ["/dev/ttyUSB0", "/dev/ttyUSB1"])
            self.assertTrue(all(row["result"].startswith(("refused: ", "not checked: "))
                                for row in rows), rows)

        # A record that cannot be written stops the run before any unit is asked.
        self.bed.configure("ttyUSB0", "reply=0105")
        for case, record, why in (
                ("a folder", self.files, "cannot open"),
                ("a missing folder", "/nonexistent-folder/bench.csv", "cannot write beside"),
                ("a place that takes no file", "/proc/orvane-bench.csv", "cannot write beside")):
            with self.subTest(case):
                self.setUp()
                for command in ("update", "watch"):
                    outcome = run(command, self.amplifier6, "--port", "/dev/ttyUSB0", "--yes",
                                  "--record", record) if command == "update" else \
                        run(command, self.amplifier6, "--yes", "--record", record)
                    self.assertEqual(outcome.returncode, EXIT_USAGE, outcome.stdout + outcome.stderr)
                    self.assertRegex(outcome.stderr, rf'^orvane-update: not started: --record '
                                     rf'{why} "{re.escape(record)}": .*\n$')
                self.assertEqual(self.bed.received("ttyUSB0"), b"")


class Watching:
    """orvane-update watch running in the background, its output lines gathered as they come."""

    def __init__(self, *args, env=None):
        # As run() does: the program inherits the process's environment with env's variables.
        for name, value in (env or {}).items():
            os.environ[name] = value
        try:
            self.tool = subprocess.Popen([TOOL, "watch", *args], stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True,
                                         stdin=subprocess.DEVNULL)
        finally:
            for name in env or {}:
                del os.environ[name]
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
            self.assertEqual(self.bed.received("ttyUSB0"), updated_with(image))
            self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")

            # Unplugged and plugged back: handled again.
            self.bed.remove("ttyUSB4")
            self.assertTrue(watch.wait_for(re.escape("unplugged /dev/ttyUSB4 (serial W4)")))
            self.bed.plug("ttyUSB4")
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB4 ", count=2), watch.lines)
            self.assertTrue(self.bed.wait_event("ttyUSB4", "close bytes=" + str(8 + len(image))))
            self.assertEqual(self.bed.received("ttyUSB4"), updated_with(image) * 2)
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


class WatchFolder(Bench):
    devices = [unit_on("ttyUSB0", "F1", "0105", "updated_reply=0106"), MIXER]

    def test_each_unit_gets_its_models_file_is_verified_and_recorded(self):
        folder = tempfile.mkdtemp(dir=self.files)
        amplifier = firmware(folder, "Amplifier-v006.ace", 1, 6, 64 * 1024)
        firmware(folder, "Amplifier-v005.ace", 1, 5, 64 * 1024)
        mixer = firmware(folder, "Mixer-v004.ace", 2, 4, 32 * 1024)
        record = os.path.join(self.files, "watch.csv")
        watch = Watching(folder, "--yes", "--verify", "--record", record,
                         env={"ORVANE_VERIFY_LIMIT_MS": "1500"})
        try:
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB0 "), watch.lines)
            self.assertTrue(watch.wait_for("unconfirmed /dev/ttyUSB1 "), watch.lines)
        finally:
            code, errors = watch.stop()
        self.assertEqual((code, errors), (EXIT_UNCONFIRMED, ""), watch.lines)
        for pattern in [r"updating /dev/ttyUSB0 \(serial F1\) from firmware 005 to version 006 "
                        r"with Amplifier-v006\.ace$",
                        r"updated /dev/ttyUSB0 \(serial F1\): 65536 bytes in [0-9.]+ s, version "
                        r"006 confirmed$",
                        r"updating /dev/ttyUSB1 \(serial ORV2001\) from firmware 003 to version "
                        r"004 with Mixer-v004\.ace$",
                        r"unconfirmed /dev/ttyUSB1 \(serial ORV2001\): 32768 bytes in [0-9.]+ s; "
                        r"sent, not confirmed: the unit answered model 2, version 003$"]:
            self.assertEqual(len(watch.events(pattern)), 1, (pattern, watch.lines))
        self.assertEqual(watch.lines[-1], "Totals: 1 updated, 1 not confirmed, 0 up to date, "
                         "0 refused, 0 failed")
        rows = sorted(record_rows(record), key=lambda row: row["port"])
        self.assertEqual([(row["port"], row["firmware file"], row["new version"], row["result"],
                           row["bytes"], row["confirmed"]) for row in rows], [
            ("/dev/ttyUSB0", amplifier, "006", "updated, version 006 confirmed", "65536", "yes"),
            ("/dev/ttyUSB1", mixer, "004",
             "sent, not confirmed: the unit answered model 2, version 003", "32768", "no")])


class GuardedFile(Bench):
    devices = [unit_on("ttyUSB0", "G1", "0105", "mode=paced\npaced_rate=200000"),
               unit_on("ttyUSB1", "G2", "0105", plugged=False)]

    def test_only_the_checked_bytes_are_ever_sent(self):
        with open(self.amplifier6, "rb") as file:
            image = file.read()
        held = os.path.join(self.files, "held.ace")
        shutil.copy(self.amplifier6, held)
        watch = Watching(held, "--yes")
        try:
            # A file cut short while it is sent: the unit gets the bytes that were checked, whole.
            self.assertTrue(self.bed.wait_event("ttyUSB0", "pgm"), self.bed.events("ttyUSB0"))
            os.truncate(held, 1000)
            self.assertTrue(watch.wait_for("updated /dev/ttyUSB0 "), watch.lines)
            self.assertEqual(self.bed.received("ttyUSB0"), updated_with(image))
            # Another model's image copied over the file the watch holds: the next unit gets
            # nothing but the search's question.
            with open(held, "wb") as file:
                file.write(read(firmware(self.files, "Mixer-v004.ace", 2, 4, 64 * 1024)))
            self.bed.plug("ttyUSB1")
            self.assertTrue(watch.wait_for(re.escape(
                "failed /dev/ttyUSB1 (serial G2): the firmware file changed after it was "
                "checked (its bytes are not the ones checked): nothing was sent; check the file "
                "again")), watch.lines)
        finally:
            code, _ = watch.stop()
        self.assertEqual(code, EXIT_FAILED, watch.lines)
        self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")


class GuardedSwap(Bench):
    devices = [dict(AMPLIFIER)]

    def test_a_unit_swapped_while_the_question_waits_gets_nothing(self):
        for case, swap, words, received in [
                ("another model", lambda: self.bed.configure("ttyUSB0", "reply=0207"),
                 "it answers model 2, firmware 007, not model 1, firmware 005", b"ver\rver\r"),
                ("another bridge", self.swap_bridge,
                 'its bridge\'s serial is "SWAP1", not "ORV1001"', b"ver\r")]:
            with self.subTest(case):
                self.bed.configure("ttyUSB0", "reply=0105")
                self.setUp()
                terminal, answer = pty.openpty()
                tool = subprocess.Popen([TOOL, "update", self.amplifier6, "--port",
                                         "/dev/ttyUSB0"], stdin=answer, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
                os.close(answer)
                self.assertTrue(self.bed.wait_event("ttyUSB0", "close"))
                time.sleep(0.3)  # the question is asked
                swap()
                self.bed.clear("ttyUSB0")
                os.write(terminal, b"y\n")
                stdout, stderr = tool.communicate(timeout=30)
                os.close(terminal)
                self.assertEqual(tool.returncode, EXIT_FAILED, stdout + stderr)
                self.assertIn("/dev/ttyUSB0: the unit on /dev/ttyUSB0 is not the one checked: "
                              + words + "; nothing was sent", stderr)
                self.assertEqual(self.bed.received("ttyUSB0"), received[4:])

    def swap_bridge(self):
        self.bed.remove("ttyUSB0")
        self.bed.devices["ttyUSB0"][0]["serial"] = "SWAP1"
        self.bed.plug("ttyUSB0")


class GuardedVerify(Bench):
    # The unit stays silent once it has the file; its bridge may come back on another port.
    devices = [unit_on("ttyUSB0", "V1", "0105", "reboot_ms=600000"),
               unit_on("ttyUSB1", "V1", "0106", plugged=False),
               unit_on("ttyUSB2", "V2", "0106", plugged=False)]

    def test_only_the_unit_that_was_updated_confirms(self):
        for case, back, code, result in [
                ("back on another port", "ttyUSB1", EXIT_DONE, None),
                ("another unit on its port", "ttyUSB0", EXIT_UNCONFIRMED,
                 "sent, not confirmed: another unit (serial V2) answered")]:
            with self.subTest(case):
                self.bed.configure("ttyUSB0", "reply=0105\nreboot_ms=600000")
                self.setUp()
                # The test bed's variables are the process's own, not os.environ's copy.
                os.environ["ORVANE_VERIFY_LIMIT_MS"] = "3000"
                try:
                    tool = subprocess.Popen([TOOL, "update", self.amplifier6, "--port",
                                             "/dev/ttyUSB0", "--yes", "--verify"],
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                            text=True, stdin=subprocess.DEVNULL)
                finally:
                    del os.environ["ORVANE_VERIFY_LIMIT_MS"]
                self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" +
                                                    str(8 + 64 * 1024), limit=10),
                                self.bed.events("ttyUSB0"))
                self.bed.remove("ttyUSB0")
                if back == "ttyUSB1":
                    self.bed.plug("ttyUSB1")
                else:
                    # Another unit, at the new version, gets the port.
                    device = self.bed.devices["ttyUSB0"][0]
                    device["serial"] = "V2"
                    self.bed.configure("ttyUSB0", "reply=0106")
                    self.bed.plug("ttyUSB0")
                stdout, stderr = tool.communicate(timeout=30)
                self.assertEqual(tool.returncode, code, stdout + stderr)
                if result:
                    self.assertEqual(stderr, f"orvane-update: /dev/ttyUSB0: {result}\n")
                else:
                    self.assertIn("version 006 confirmed", stdout)
                self.bed.remove(back)
                self.bed.devices["ttyUSB0"][0]["serial"] = "V1"
                self.bed.plug("ttyUSB0")


class WatchRestart(Bench):
    # Once updated, the unit restarts: its bridge drops off the bus and comes back as ttyUSB1.
    devices = [unit_on("ttyUSB0", "R1", "0105"), unit_on("ttyUSB1", "R1", "0106", plugged=False)]

    def test_a_units_own_restart_is_not_a_new_plug_in(self):
        # While confirmed, or once its update has ended: either way the unit back with the
        # version it was sent is not handled again, nor counted twice.
        for case, options, back in [
                ("confirmed", ["--verify"], "updated /dev/ttyUSB0 .* version 006 confirmed$"),
                ("older versions allowed", ["--allow-downgrade"],
                 re.escape("back /dev/ttyUSB1 (serial R1): runs version 006, as sent"))]:
            with self.subTest(case):
                self.setUp()
                watch = Watching(self.amplifier6, "--yes", *options,
                                 env={"ORVANE_VERIFY_LIMIT_MS": "5000"})
                try:
                    self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" +
                                                        str(8 + 64 * 1024), limit=10))
                    if "--verify" not in options:
                        self.assertTrue(watch.wait_for("updated /dev/ttyUSB0 "), watch.lines)
                    self.bed.remove("ttyUSB0")
                    self.bed.plug("ttyUSB1")
                    self.assertTrue(watch.wait_for(back), watch.lines)
                    time.sleep(0.5)
                finally:
                    code, _ = watch.stop()
                    self.bed.remove("ttyUSB1")
                    self.bed.plug("ttyUSB0")
                self.assertEqual(code, EXIT_DONE, watch.lines)
                self.assertEqual(watch.events("found /dev/ttyUSB1 "), [])
                self.assertEqual(watch.lines[-1],
                                 "Totals: 1 updated, 0 up to date, 0 refused, 0 failed")
                self.assertEqual(self.bed.received("ttyUSB1").count(b"pgm\r"), 0)

    def test_ctrl_c_ends_the_watch_at_once_while_a_unit_is_confirmed(self):
        self.bed.configure("ttyUSB0", "reply=0105\nreboot_ms=600000")
        self.setUp()
        watch = Watching(self.amplifier6, "--yes", "--verify")
        try:
            self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 64 * 1024),
                                                limit=10))
            time.sleep(1.0)  # a question or two unanswered
        finally:
            stopped = time.monotonic()
            code, _ = watch.stop()
        self.assertLess(time.monotonic() - stopped, 1.5)
        self.assertEqual(code, EXIT_CANCELLED, watch.lines)


class Conventions(Bench):
    devices = [bridge("ttyUSB0", "T0", "Unit 0105", "0105"),
               bridge("ttyUSB1", "T1", "Unit 0203", "0203")]

    def test_the_options_and_their_errors(self):
        for args, code, stream, start in option_cases():
            words = [word.replace("{FILE}", self.amplifier6).replace("{PORT}", "/dev/ttyUSB0")
                     for word in args.split(" ")]
            start = start.replace("{PORT}", "/dev/ttyUSB0")
            with self.subTest(args):
                self.setUp()
                outcome = run(*words)
                self.assertEqual(outcome.returncode, code, outcome.stdout + outcome.stderr)
                said = outcome.stdout if stream == "out" else outcome.stderr
                self.assertTrue(said.startswith(start), said)
                self.assertNotIn("pgm", self.bed.events("ttyUSB0"))

    def test_usage_lines_fit_80_columns_and_name_no_bridge_library(self):
        for args in (["--help"], ["update", "-h"], ["check", "-h"], ["watch", "-h"],
                     ["list", "-h"], ["doctor", "-h"]):
            with self.subTest(args):
                outcome = run(*args)
                self.assertEqual(outcome.returncode, EXIT_DONE)
                self.assertLessEqual(max(len(line) for line in outcome.stdout.splitlines()), 80)
                self.assertNotIn("bridge library", outcome.stdout)

    def test_verbose_traces_each_command_and_reply_with_its_time(self):
        outcome = run("check", self.amplifier6, "-v", "-p", "/dev/ttyUSB0")
        self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stderr)
        self.assertRegex(outcome.stderr, r"(?m)^ +[0-9]+\.[0-9]{3}  /dev/ttyUSB0 > "
                         r"ver\\r \(76 65 72 0d\)$")
        self.assertRegex(outcome.stderr, r"(?m)^ +[0-9]+\.[0-9]{3}  /dev/ttyUSB1 < 02 03$")
        # -q leaves the result alone.
        quiet = run("check", self.amplifier6, "-q")
        self.assertEqual(quiet.stdout.splitlines(), [
            "/dev/ttyUSB0 (Unit 0105, serial T0, model 1, firmware 005): accepted",
            "/dev/ttyUSB1 (Unit 0203, serial T1, model 2, firmware 003): refused: This file is not "
            "meant for the connected equipment"])


class OneUnit(Bench):
    devices = [bridge("ttyUSB0", "T0", "Unit 0105", "0105"), OTHERS[0]]

    def test_update_without_a_name_takes_the_one_unit(self):
        outcome = run("update", self.amplifier6, "-y", "-q")
        self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stdout + outcome.stderr)
        self.assertRegex(outcome.stdout, r"^Your equipment has been successfully updated "
                         r"\(/dev/ttyUSB0, 65536 bytes in [0-9.]+ s\)\n$")
        self.assertTrue(self.bed.wait_event("ttyUSB0", "close bytes=" + str(8 + 64 * 1024)))
        self.assertEqual(self.bed.received("ttyUSB0"), updated_with(read(self.amplifier6)))
        self.assertEqual(self.bed.received("ttyUSB2"), b"")


class EscapedTexts(Bench):
    # The product's bytes as the bridge reports them: escape sequences, a lone C1 byte and an
    # encoded one, a carriage return (sysfs ends the text at a line break).
    HOSTILE = b"\x1b]0;owned\x07\x1b[2J\x1b[31mOrvane\x9b1m \xc2\x9b2J\r\x7fforged"
    devices = [bridge("ttyUSB0", "S\x1b[5m1", HOSTILE, "0105")]

    def test_device_texts_reach_the_terminal_escaped_and_json_unchanged(self):
        listed = subprocess.run([TOOL, "list"], capture_output=True, timeout=60,
                                stdin=subprocess.DEVNULL, check=False)
        self.assertEqual(listed.returncode, EXIT_DONE, listed.stderr)
        self.assertEqual(listed.stdout, b'/dev/ttyUSB0  "\\x1B]0;owned\\x07\\x1B[2J\\x1B[31mOrvane'
                         b'\\x9B1m \\u009B2J\\r\\x7Fforged"  serial S\\x1B[5m1  model 1  firmware 005'
                         b'  via sysfs\n')
        as_json = subprocess.run([TOOL, "list", "--json"], capture_output=True, timeout=60,
                                 stdin=subprocess.DEVNULL, check=False)
        unit = json.loads(as_json.stdout.decode("utf-8"))[0]
        self.assertEqual(unit["product"], self.HOSTILE.decode("latin-1").replace("\xc2\x9b", "\x9b"))
        self.assertEqual(unit["serial"], "S\x1b[5m1")


class Progress(Bench):
    devices = [bridge("ttyUSB0", "P0", "Unit 0105", "0105", "mode=paced\npaced_rate=80000"),
               bridge("ttyUSB1", "P1", "Unit 0105", "0105", "mode=paced\npaced_rate=80000")]

    def test_the_bar_fits_the_terminal_and_ends_at_100_percent(self):
        for columns in (40, 80, 200):
            for selection in (["-p", "/dev/ttyUSB0"], ["--all"]):
                with self.subTest(columns=columns, selection=selection):
                    self.setUp()
                    code, received = on_terminal(
                        ["update", self.amplifier6, "-y", "--verify", *selection], columns,
                        env={"ORVANE_VERIFY_LIMIT_MS": "800"})
                    self.assertEqual(code, EXIT_UNCONFIRMED, received)
                    text = received.decode()
                    # Each bar between line starts and cursor moves fits in the width.
                    pieces = re.split(r"\r|\n|\x1b\[[0-9]*[ABJK]", text)
                    bars = [p for p in pieces if re.search(r"/dev/ttyUSB[01] ", p) and "%" in p]
                    self.assertGreater(len(bars), 2, text)
                    self.assertLessEqual(max(len(bar.rstrip()) for bar in bars), columns - 1,
                                         [bar for bar in bars if len(bar) >= columns])
                    self.assertIn("100%", bars[-1])
                    if columns >= 80:
                        self.assertTrue(any("confirming version 006" in p for p in bars), text)
                        self.assertIn("[" + "=" * 10, bars[-1])
                    if selection == ["--all"]:
                        self.assertIn("\x1b[1A", text)  # two lines, redrawn in place
                        self.assertTrue(any("/dev/ttyUSB1 " in p for p in bars))

    def test_dumb_terminal_gets_lines(self):
        code, received = on_terminal(["update", self.amplifier6, "-y", "-p", "/dev/ttyUSB0"], 80,
                                     env={"TERM": "dumb"})
        self.assertEqual(code, EXIT_DONE, received)
        self.assertIn(b"/dev/ttyUSB0: 65536 of 65536 bytes (100%)\r\n", received)
        self.assertNotIn(b"\x1b", received)


class JsonEvents(Bench):
    devices = [bridge("ttyUSB0", "J0", "Unit 0105", "0105", "updated_reply=0106"),
               bridge("ttyUSB1", "J1", "Unit 0203", "0203")]

    def test_check_update_and_watch_write_one_object_per_event(self):
        fields = {"event", "time", "host", "port", "serial", "product", "model", "old_version",
                  "file", "sha256", "new_version", "result", "bytes", "seconds", "confirmed"}
        checked = run("check", self.amplifier6, "--json")
        self.assertEqual([e["event"] for e in json_events(checked.stdout)],
                         ["found", "found", "accepted", "refused", "totals"])
        outcome = run("update", self.amplifier6, "--all", "-y", "--verify", "--json")
        self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stdout + outcome.stderr)
        events = json_events(outcome.stdout)
        names = [event["event"] for event in events]
        self.assertEqual(names, ["found", "found", "refused", "updating"] + ["progress"] * 10 +
                         ["confirming", "updated", "totals"])
        for event in events[:-1]:
            self.assertEqual(set(event) - {"total", "percent"}, fields, event)
        self.assertEqual(events[2]["port"], "/dev/ttyUSB1")
        self.assertTrue(events[2]["result"].startswith("skipped: "))
        self.assertEqual([e["percent"] for e in events if e["event"] == "progress"],
                         list(range(10, 101, 10)))
        updated = events[-2]
        self.assertEqual((updated["port"], updated["serial"], updated["old_version"],
                          updated["new_version"], updated["bytes"], updated["confirmed"],
                          updated["result"]),
                         ("/dev/ttyUSB0", "J0", "005", "006", "65536", "yes",
                          "updated, version 006 confirmed"))
        self.assertEqual(updated["sha256"], hashlib.sha256(read(self.amplifier6)).hexdigest())
        self.assertEqual(events[-1], {**events[-1], "updated": 1, "refused": 1, "failed": 0,
                                      "exit": 0})


        self.bed.configure("ttyUSB0", "reply=0105\nupdated_reply=0106")
        self.setUp()
        watch = Watching(self.amplifier6, "-y", "--json")
        try:
            with watch.changed:
                self.assertTrue(watch.changed.wait_for(lambda: sum(
                    '"event": "refused"' in line or '"event": "updated"' in line
                    for line in watch.lines) == 2, 10), watch.lines)
        finally:
            code, errors = watch.stop()
        self.assertEqual((code, errors), (EXIT_DONE, ""), watch.lines)
        events = [json.loads(line) for line in watch.lines]
        self.assertEqual(events[-1]["event"], "totals")
        self.assertEqual(sorted(e["event"] for e in events if e.get("port") == "/dev/ttyUSB0"),
                         sorted(["found", "updating"] + ["progress"] * 10 + ["updated"]))


class Doctor(Bench):
    devices = [bridge("ttyUSB0", "D0", "Unit 0105", "0105"),
               bridge("ttyUSB1", "D1", "Orvane Amplifier", "0105", "mode=silent")]

    def test_doctor_names_the_unit_it_can_update_and_the_one_it_cannot(self):
        outcome = run("doctor")
        self.assertEqual(outcome.returncode, EXIT_DONE, outcome.stdout + outcome.stderr)
        self.assertIn("ok    unit: /dev/ttyUSB0 (Unit 0105, serial D0, model 1, firmware 005)\n",
                      outcome.stdout)
        self.assertIn("FAIL  unit: /dev/ttyUSB1 (Orvane Amplifier, serial D1, model unknown, firmware "
                      "unknown): the unit did not answer the version query\n", outcome.stdout)
        self.assertIn("ok    port: /dev/ttyUSB0 owner ", outcome.stdout)
        self.assertTrue(outcome.stdout.startswith(
            "ok    driver: the bridge's kernel driver cp210x is present\nok    adapters: 2 adapter(s)"
            " of the bridge maker (USB vendor 10c4) with a tty: /dev/ttyUSB0, /dev/ttyUSB1\n"),
            outcome.stdout)
        self.assertTrue(outcome.stdout.endswith("1 of 2 units can be updated\n"), outcome.stdout)
        checks = json_events(run("doctor", "--json").stdout)
        self.assertEqual(checks[-1], {"check": "summary", "units": 2, "updatable": 1, "exit": 0})



class DoctorHeld(Bench):
    # The test bed's own ptys behind the nodes: a port this user (not root) may not open, one
    # another program holds, and a process named ModemManager, as doctor knows it (by name
    # among the running processes; it asks nothing of it).
    devices = [{**AMPLIFIER, "unit": None}, {**MIXER, "unit": None}]

    def test_a_held_port_a_port_without_permission_and_modemmanager(self):
        self.bed.own("ttyUSB0", 0, DIALOUT_GID, 0o660)
        self.bed.own("ttyUSB1", 0, DIALOUT_GID, 0o666)
        fake = os.path.join(self.files, "ModemManager")
        shutil.copy("/bin/sleep", fake)
        modem_manager = subprocess.Popen([fake, "60"])
        try:
            with open("/dev/ttyUSB1", "rb", buffering=0) as holder:
                fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
                outcome = run("doctor", as_nobody=True)
                checks = json_events(run("doctor", "--json", as_nobody=True).stdout)
        finally:
            modem_manager.kill()
            modem_manager.wait()
        self.assertEqual(outcome.returncode, EXIT_NO_UNIT, outcome.stdout + outcome.stderr)
        said = outcome.stdout
        for line in [
            "FAIL  port: /dev/ttyUSB0 owner root, group dialout, mode 0660: this user may not open "
            "it\n      fix: sudo usermod -aG dialout $USER, then log in again",
            "ok    port: /dev/ttyUSB1 owner root, group dialout, mode 0666: this user may open it\n",
            "note  ModemManager: running, and may probe the ports (no udev rule tells it to leave "
            "them alone)\n",
            "FAIL  unit: /dev/ttyUSB0 (Orvane Amplifier, serial ORV1001, model unknown, firmware "
            "unknown): Error opening Master COM port: Permission denied (system error 13)\n",
            "FAIL  unit: /dev/ttyUSB1 (Orvane Mixer, serial ORV2001, model unknown, firmware "
            "unknown): Error opening Master COM port: Device or resource busy",
            "fix: close the program that holds the port",
        ]:
            self.assertIn(line, said)
        self.assertTrue(said.endswith("0 of 2 units can be updated\n"), said)
        self.assertEqual([(c["check"], c.get("passed")) for c in checks if c["check"] != "udev rule"],
                         [("driver", True), ("adapters", True), ("port", False), ("port", True),
                          ("ModemManager", True), ("unit", False), ("unit", False),
                          ("summary", None)])
        self.assertEqual(checks[-1], {"check": "summary", "units": 2, "updatable": 0, "exit": 2})
        # Nothing reached either port.
        for tty in ("ttyUSB0", "ttyUSB1"):
            end = self.bed.pty_end(tty)
            os.set_blocking(end, False)
            with self.assertRaises((BlockingIOError, OSError)):
                os.read(end, 4096)


class DoctorNoDriver(Bench):
    # The bridge's kernel driver is not loaded: the adapter is on the bus, without a tty.
    driver = False
    devices = [AMPLIFIER]

    def test_the_missing_driver_and_the_adapter_it_left_without_a_tty(self):
        outcome = run("doctor")
        self.assertEqual(outcome.returncode, EXIT_NO_UNIT, outcome.stdout + outcome.stderr)
        self.assertTrue(outcome.stdout.startswith(
            "FAIL  driver: the bridge's kernel driver cp210x is not loaded\n"
            "      fix: sudo modprobe cp210x (on Ubuntu it is in linux-modules-extra)\n"
            "FAIL  adapters: 1 adapter(s) of the bridge maker (USB vendor 10c4) on the bus, 1 "
            "without a tty\n      fix: load the driver (above), then plug the unit in again\n"),
            outcome.stdout)
        self.assertIn("FAIL  units: No Orvane equipment connected\n", outcome.stdout)
        self.assertNotIn("ModemManager", outcome.stdout)
        self.assertEqual(self.bed.received("ttyUSB0"), b"")


def publish(folder, *names):
    """Writes the folder's SHA256SUMS with sha256sum itself, listing the names given."""
    with open(os.path.join(folder, "SHA256SUMS"), "wb") as sums:
        subprocess.run(["sha256sum", "--", *names], cwd=folder, check=True, stdout=sums)


class Checksums(Bench):
    devices = [AMPLIFIER, MIXER]
    amplifier = "/dev/ttyUSB0 (Orvane Amplifier, serial ORV1001, model 1, firmware 005)"
    mixer = "/dev/ttyUSB1 (Orvane Mixer, serial ORV2001, model 2, firmware 003)"
    damaged = ("This file is damaged or is not the one published: its SHA-256 does not match "
               "SHA256SUMS")

    def test_a_folder_serves_only_the_published_files(self):
        folder = tempfile.mkdtemp(dir=self.files)
        old = firmware(folder, "Amplifier-v005.ace", 1, 5, 4096)
        new = firmware(folder, "Amplifier-v006.ace", 1, 6, 8192)
        mixer = firmware(folder, "Mixer-v004.ace", 2, 4, 2048)
        publish(folder, "Amplifier-v005.ace", "Amplifier-v006.ace", "Mixer-v004.ace")
        self.expect(run("check", folder), EXIT_DONE,
                    "".join(file_line(path) + ", SHA-256 matches SHA256SUMS\n"
                            for path in (old, new, mixer)) +
                    f"{self.amplifier}: Amplifier-v006.ace (version 006): accepted\n"
                    f"{self.mixer}: Mixer-v004.ace (version 004): accepted\n")

        # The newest amplifier file cut short on its way: the amplifier gets no file at all,
        # not the older one; the mixer is updated, and the run ends with 3.
        with open(new, "r+b") as cut:
            cut.truncate(6000)
        self.setUp()
        outcome = run("update", folder, "--all", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertIn(file_line(new) + ", SHA-256 does not match SHA256SUMS\n", outcome.stdout)
        self.assertIn(f"{self.amplifier}: refused: Amplifier-v006.ace: {self.damaged}\n",
                      outcome.stdout)
        self.assertTrue(self.bed.wait_event("ttyUSB1", "close bytes=" + str(8 + 2048)))
        self.assertEqual(self.bed.received("ttyUSB1"), updated_with(read(mixer)))
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")

        # Cut short of its header too: its model is unknown, so no unit is served.
        with open(new, "r+b") as cut:
            cut.truncate(100)
        self.setUp()
        outcome = run("update", folder, "--serial", "ORV2001", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertEqual(outcome.stderr,
                         "orvane-update: Source file too short to retrieve header information: "
                         f"{new}, SHA-256 does not match SHA256SUMS (left out)\n"
                         f"orvane-update: {self.mixer}: Amplifier-v006.ace: {self.damaged} (its "
                         "header names no model)\n")
        self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")

        # A listed file missing from the folder may have been any model's: no unit is served.
        os.remove(new)
        self.setUp()
        outcome = run("update", folder, "--serial", "ORV2001", "--yes")
        self.expect(outcome, EXIT_REFUSED,
                    file_line(old) + ", SHA-256 matches SHA256SUMS\n" + file_line(mixer) +
                    ", SHA-256 matches SHA256SUMS\n",
                    f"orvane-update: {new}: This file is listed in SHA256SUMS but is not in the "
                    f"folder\norvane-update: {self.mixer}: Amplifier-v006.ace: This file is "
                    "listed in SHA256SUMS but is not in the folder (its model is not known)\n")
        self.assertEqual(self.bed.received("ttyUSB1"), b"ver\r")

        # A file the list does not name is refused too, and so is its model.
        publish(folder, "Amplifier-v005.ace", "Mixer-v004.ace")
        firmware(folder, "Amplifier-v007.ace", 1, 7, 2048)
        self.setUp()
        outcome = run("update", folder, "--port", "/dev/ttyUSB0", "--yes")
        self.assertEqual(outcome.returncode, EXIT_REFUSED, outcome.stdout + outcome.stderr)
        self.assertTrue(outcome.stderr.endswith(
            f"{self.amplifier}: Amplifier-v007.ace: This file is not listed in SHA256SUMS\n"),
            outcome.stderr)
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")

        # The bench names the refused file on its line.
        watch = Watching(folder, "--yes")
        try:
            self.assertTrue(watch.wait_for("refused /dev/ttyUSB0 "), watch.lines)
        finally:
            watch.stop()
        self.assertEqual(len(watch.events(
            r"refused /dev/ttyUSB0 \(serial ORV1001\): Amplifier-v007\.ace: This file is not "
            r"listed in SHA256SUMS$")), 1, watch.lines)

    def test_a_single_file_beside_a_list(self):
        folder = tempfile.mkdtemp(dir=self.files)
        listed = firmware(folder, "Amplifier-v006.ace", 1, 6, 4096)
        other = firmware(folder, "Amplifier-test.ace", 1, 7, 2048)
        publish(folder, "Amplifier-v006.ace")
        self.expect(run("check", listed, "--port", "/dev/ttyUSB0"), EXIT_DONE,
                    file_line(listed) + ", SHA-256 matches SHA256SUMS\n"
                    f"{self.amplifier}: accepted\n")
        # Not listed: sent as ever, and said so.
        self.expect(run("check", other, "--port", "/dev/ttyUSB0"), EXIT_DONE,
                    file_line(other) + ", not listed in SHA256SUMS\n"
                    f"{self.amplifier}: accepted\n")
        with open(listed, "r+b") as changed:
            changed.seek(3000)
            changed.write(b"X")
        self.setUp()
        outcome = run("update", listed, "--port", "/dev/ttyUSB0", "--yes")
        self.expect(outcome, EXIT_REFUSED, file_line(listed) +
                    ", SHA-256 does not match SHA256SUMS\n",
                    f"orvane-update: {self.amplifier}: {self.damaged}\n")
        self.assertEqual(self.bed.received("ttyUSB0"), b"ver\r")
        # A list that cannot be read stops the command before anything is asked.
        os.remove(os.path.join(folder, "SHA256SUMS"))
        os.mkdir(os.path.join(folder, "SHA256SUMS"))
        self.setUp()
        self.expect(run("check", other), EXIT_USAGE, "",
                    "orvane-update: Unable to read the published checksums "
                    f'"{folder}/SHA256SUMS": Is a directory (system error 21)\n')
        self.assertEqual(self.bed.received("ttyUSB0"), b"")


if __name__ == "__main__":
    unittest.main()
