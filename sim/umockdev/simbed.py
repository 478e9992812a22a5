"""A umockdev test bed of serial adapters laid out in /sys as the kernel does, whose /dev nodes
lead to the simulated equipment's units (or stay the test bed's own ptys).

Must run inside `umockdev-wrapper` with Debian's /usr/bin/python3 (it has `gi`); programs started
from it see the bed. As a command:

    umockdev-wrapper /usr/bin/python3 simbed.py DEVICES.json -- PROGRAM ARGS...

runs the program in a bed made from DEVICES.json (a list of the device dicts below) and exits with
its status. ORVANE_SIM_EQUIPMENT names the simulator. The program finds the simulator's state
folder in ORVANE_SIMBED_STATE: portK.* there belong to the K-th device with a unit. A device with
"plug_at": S is plugged in S seconds after the program started; the state folder's "plugged"
then holds a line "TTY TIME" per plug-in, TIME in seconds since the epoch.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

USB_ROOT = "/devices/pci0000:00/0000:00:14.0/usb1"


def records(device, position, node=True, bound=True):
    """umockdev records for one device, parents first, as the kernel lays it out.

    kind "usb-serial": a USB device, its interface, the usb-serial port and its tty (ttyUSBn);
    "acm": a USB modem whose tty (ttyACMn) hangs off the interface; "uart": a board's ttySn.
    Without node, umockdev makes no /dev node for the tty (the caller makes its own). Without
    bound, no driver has taken the USB adapter: it has no usb-serial port and no tty.
    """
    tty, kind = device["tty"], device.get("kind", "usb-serial")
    major = {"usb-serial": 188, "acm": 166, "uart": 4}[kind]
    minor = int("".join(c for c in tty if c.isdigit()) or 0) + (64 if kind == "uart" else 0)
    node = (f"N: {tty}\n" if node else "") + f"E: SUBSYSTEM=tty\nA: dev={major}:{minor}\n"
    if kind == "uart":
        return [f"P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n",
                f"P: /devices/platform/serial8250/tty/{tty}\n{node}L: device=../../../serial8250\n"]
    usb = f"{USB_ROOT}/1-{position}"
    # A product of bytes may be text in any encoding: it goes in as hex. None: the adapter
    # reports no product string, and sysfs has no product attribute.
    product = device["product"]
    product = ("" if product is None else f"H: product={product.hex()}\n"
               if isinstance(product, bytes) else f"A: product={product}\n")
    interface = f"{usb}/1-{position}:1.0"
    found = [f"P: {usb}\nN: bus/usb/001/{position + 1:03d}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
             f"A: idVendor={device['vid']}\nA: idProduct={device['pid']}\n"
             f"A: serial={device['serial']}\n{product}",
             f"P: {interface}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"]
    if not bound:
        return found
    if kind == "acm":
        found.append(f"P: {interface}/tty/{tty}\n{node}L: device=../../../1-{position}:1.0\n")
    else:
        found.append(f"P: {interface}/{tty}\nE: SUBSYSTEM=usb-serial\n")
        # The udev properties through which a browser (libudev) finds the adapter.
        udev = (f"E: ID_VENDOR_ID={device['vid']}\nE: ID_MODEL_ID={device['pid']}\n"
                f"E: ID_SERIAL_SHORT={device['serial']}\nE: DEVNAME=/dev/{tty}\n"
                f"E: MAJOR={major}\nE: MINOR={minor}\n")
        found.append(f"P: {interface}/{tty}/tty/{tty}\n{node}{udev}L: device=../../../{tty}\n")
    return found


class SimBed:
    """The bed: device dicts with tty, kind, vid, pid, serial, product (text, or bytes as the
    adapter reports them), and unit (the simulated unit's conf text; None keeps the test bed's
    own pty behind the node). Without driver, no adapter gets its tty. A device with "plugged": False (or a "plug_at" time, see main) is
    not attached at the start: its unit is there, and plug() attaches it."""

    def __init__(self, devices, simulator=None, driver=True):
        self.testbed = UMockdev.Testbed.new()
        # The kernel's driver of the bridge maker's adapters, loaded; without it, the adapters
        # are on the bus but get no tty.
        self.driver = driver
        if driver:
            os.makedirs(self.testbed.get_sys_dir() + "/bus/usb-serial/drivers/cp210x")
        self.folder = tempfile.mkdtemp(prefix="orvane-simbed.")
        self.ports, self.syspaths, self.devices, self.seq = {}, {}, {}, 0
        self.ioctl_handlers = {}
        for position, device in enumerate(devices, start=1):
            self.devices[device["tty"]] = (device, position)
            if device.get("unit") is not None:
                self.ports[device["tty"]] = len(self.ports) + 1
        self.simulator = None
        if self.ports:
            self._start_units(devices, simulator)
        for device in devices:
            if device.get("plugged", True) and "plug_at" not in device:
                self.plug(device["tty"])

    def _start_units(self, devices, simulator):
        state, links = self.folder + "/state", self.folder + "/ports"
        os.makedirs(state)
        os.makedirs(links)
        for device in devices:
            if device["tty"] in self.ports:
                with open(f"{state}/port{self.ports[device['tty']]}.conf", "w") as conf:
                    conf.write(device["unit"] + "\n")
        self.simulator = subprocess.Popen(
            [simulator or os.environ["ORVANE_SIM_EQUIPMENT"], "--parent-pid", str(os.getpid()),
             state, links] + [str(port) for port in self.ports.values()])
        deadline = time.monotonic() + 10
        while not os.path.exists(state + "/ready"):
            if time.monotonic() > deadline or self.simulator.poll() is not None:
                raise RuntimeError("the simulated equipment did not start")
            time.sleep(0.01)

    def plug(self, tty):
        """Plugs the adapter in: its /sys entries and its /dev node appear. (umockdev cannot make
        a node twice, so only a device with a unit can be plugged in again.)"""
        device, position = self.devices[tty]
        self.syspaths[tty] = []
        for record in records(device, position, node=tty not in self.ports, bound=self.driver):
            self.testbed.add_from_string(record)
            self.syspaths[tty].append(record.split("\n")[0][3:])
        if tty in self.ports and self.driver:
            # Not a pty of umockdev's: the node leads to the unit's link, which always names the
            # pty of the unit's next session.
            os.symlink(f"{self.folder}/ports/com{self.ports[tty]}",
                       f"{self.testbed.get_root_dir()}/dev/{tty}")

    def pass_ioctls(self, tty):
        """Passes every ioctl on the node to the port behind it. umockdev's own handler refuses
        the ones it does not know, such as a browser's TIOCEXCL, TCGETS2 and TCSETS2. Called
        again after a plug-in, it attaches afresh to the new node."""
        def execute(handler, client):
            result, error = client.execute()
            client.complete(result, error)
            return True
        if tty in self.ioctl_handlers:
            self.testbed.detach_ioctl("/dev/" + tty)
        handler = UMockdev.IoctlBase()
        handler.connect("handle-ioctl", execute)
        self.ioctl_handlers[tty] = handler
        self.testbed.attach_ioctl("/dev/" + tty, handler)

    def own(self, tty, uid, gid, mode):
        """Gives a node the test bed backs with its own pty the owner and mode of a real one
        (root:dialout 0660, say), and lets other users reach the bed, so that a program run as
        another user meets the permission a real port would ask of it."""
        root = self.testbed.get_root_dir()
        os.chmod(root, 0o755)
        # umockdev's preload connects to the bed's ioctl sockets on every open of a node.
        for folder, _, names in os.walk(root + "/ioctl"):
            for name in names:
                os.chmod(os.path.join(folder, name), 0o777)
        pty_node = os.readlink(f"{root}/dev/{tty}")
        os.chown(pty_node, uid, gid)
        os.chmod(pty_node, mode)

    def state_file(self, tty, suffix):
        return f"{self.folder}/state/port{self.ports[tty]}{suffix}"

    def _read(self, tty, suffix):
        try:
            with open(self.state_file(tty, suffix), "rb") as record:
                return record.read()
        except FileNotFoundError:
            return b""

    def received(self, tty):
        return self._read(tty, ".rx")

    def events(self, tty):
        return self._read(tty, ".events").decode()

    def wait_event(self, tty, prefix, limit=5.0):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if any(line.startswith(prefix) for line in self.events(tty).splitlines()):
                return True
            time.sleep(0.01)
        return False

    def configure(self, tty, text):
        """Replaces the unit's behaviour and waits until the simulator has applied it."""
        self.seq += 1
        conf = self.state_file(tty, ".conf")
        with open(conf + ".new", "w") as new:
            new.write(f"{text}\nseq={self.seq}\n")
        os.rename(conf + ".new", conf)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            if self._read(tty, ".applied").startswith(f"seq={self.seq}\n".encode()):
                return
            time.sleep(0.01)
        raise RuntimeError(f"{tty}: the unit did not apply its conf")

    def clear(self, tty):
        for suffix in (".rx", ".events"):
            open(self.state_file(tty, suffix), "wb").close()

    def remove(self, tty):
        """Unplugs the adapter: its /sys entries and its /dev node go, children first, each with
        the "remove" event the kernel sends (which a browser's udev monitor follows)."""
        for path in reversed(self.syspaths.pop(tty)):
            self.testbed.uevent("/sys" + path, "remove")
            self.testbed.remove_device("/sys" + path)
        # The link that replaced umockdev's node is not umockdev's to remove.
        node = f"{self.testbed.get_root_dir()}/dev/{tty}"
        if os.path.lexists(node):
            os.unlink(node)

    def pty_end(self, tty):
        """The test's end of a node the simulator does not back."""
        return self.testbed.get_dev_fd("/dev/" + tty)

    def close(self):
        if self.simulator:
            self.simulator.terminate()
            self.simulator.wait()
        subprocess.run(["rm", "-rf", self.folder], check=False)


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print("usage: simbed.py DEVICES.json -- PROGRAM ARGS...", file=sys.stderr)
        return 2
    with open(sys.argv[1]) as devices:
        bed = SimBed(json.load(devices))
    # Through putenv: the program must inherit the process environment, which also holds the
    # UMOCKDEV_DIR that the test bed set in C and os.environ does not know.
    os.environ["ORVANE_SIMBED_STATE"] = bed.folder + "/state"
    try:
        program = subprocess.Popen(sys.argv[3:])
        started = time.monotonic()
        plugs = sorted((device["plug_at"], device["tty"]) for device, _ in bed.devices.values()
                       if "plug_at" in device)
        for at, tty in plugs:
            time.sleep(max(0, started + at - time.monotonic()))
            if program.poll() is not None:
                break
            bed.plug(tty)
            with open(bed.folder + "/state/plugged", "a") as plugged:
                plugged.write(f"{tty} {time.time():.3f}\n")
        return program.wait()
    finally:
        bed.close()


if __name__ == "__main__":
    sys.exit(main())
