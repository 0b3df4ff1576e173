#!/usr/bin/env python3
"""Drives the real application in a virtual X session as a person would: clicks on the tray icon
and its menu, windows found by their titles, the clipboard, screenshots. Each flow fails with a
message and the screenshot that shows what was on the screen."""
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

APP_NAME = "Orvane Pelix Companion"
DAEMON = "tarvelind-darwin-arm64"
CAPTURE_DAEMON = "tarvelind-pcap-darwin-arm64"
PAIRING_TITLE = "Orvane Pelix Pairing"
DIGEST_TITLE = "Companion Digest"
# The enabled items of the tray menu, in order: keyboard navigation skips the two status lines.
MENU = ["Show Pairing QR...", "Show Companion Digest...", "Packet Capture Helper", "Open at Login",
        "Start or Restart Companion", "Stop Companion", "Open Logs", "Remove Data and Quit...",
        "Quit Orvane Pelix Companion"]


class FlowFailed(Exception):
    pass


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise FlowFailed(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


class Session:
    def __init__(self, app_folder, artifacts):
        self.app_folder = Path(app_folder)
        self.artifacts = Path(artifacts)
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.home = Path(tempfile.mkdtemp(prefix="companion-e2e-"))
        self.processes = []
        self.display = self._free_display()
        runtime = self.home / "runtime"
        runtime.mkdir(mode=0o700)
        self.env = dict(os.environ)
        for key in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(key, None)
        self.env.update({
            "DISPLAY": f":{self.display}",
            "HOME": str(self.home),
            "XDG_DATA_HOME": str(self.home / "data"),
            "XDG_STATE_HOME": str(self.home / "state"),
            "XDG_CONFIG_HOME": str(self.home / "config"),
            "XDG_RUNTIME_DIR": str(runtime),
            "LANG": "en_GB.UTF-8",
        })
        self.app = None
        self.app_folder_copy = None

    @staticmethod
    def _free_display():
        for number in range(90, 200):
            if not Path(f"/tmp/.X{number}-lock").exists() and not Path(f"/tmp/.X11-unix/X{number}").exists():
                return number
        raise FlowFailed("no free X display number")

    def start_x(self):
        self._spawn(["Xvfb", f":{self.display}", "-screen", "0", "1280x800x24", "-nolisten", "tcp"])
        wait_for(lambda: self.run(["xdpyinfo"], check=False).returncode == 0, 10, "Xvfb to start")
        self._spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                     "--height", "32", "--transparent", "false", "--tint", "0xdddddd",
                     "--SetDockType", "true"])
        wait_for(lambda: [w for w in self.windows() if w[2] == "panel"], 10, "the tray host")

    def _spawn(self, command, **kwargs):
        process = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def run(self, command, check=True, **kwargs):
        return subprocess.run(command, env=self.env, capture_output=True, text=True, check=check,
                              timeout=30, **kwargs)

    # -- the application ------------------------------------------------------------------------
    def app_binary(self):
        return self.app_folder / "bin" / "orvane-pelix-companion"

    def launch_app(self):
        log = open(self.artifacts / "companion.log", "ab")
        self.app = subprocess.Popen([str(self.app_binary())], env=self.env, stdout=log,
                                    stderr=subprocess.STDOUT)
        self.launched_at = time.monotonic()
        return self.app

    def daemons(self, name=DAEMON):
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                argv = (entry / "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue
            if argv and Path(argv[0].decode(errors="replace")).name == name:
                if str(self.home).encode() in b"\0".join(argv):
                    found.append((int(entry.name), [a.decode() for a in argv if a]))
        return found

    # -- X ---------------------------------------------------------------------------------------
    def windows(self):
        """Every window as (id, name, instance, x, y, width, height), read from the window tree:
        xdotool's search misses override-redirect popups such as menus."""
        import re
        tree = self.run(["xwininfo", "-root", "-tree"], check=False).stdout
        found = []
        pattern = re.compile(r'^\s+(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((?:"([^"]*)" "[^"]*")?\)\s+'
                             r'(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)')
        for line in tree.splitlines():
            m = pattern.match(line)
            if m:
                found.append((int(m.group(1), 16), m.group(2) or "", m.group(3) or "",
                              int(m.group(6)), int(m.group(7)), int(m.group(4)), int(m.group(5))))
        return found

    def viewable(self, window):
        info = self.run(["xwininfo", "-id", str(window)], check=False).stdout
        return "IsViewable" in info

    def window_ids(self, pattern, by="name", only_visible=False):
        import re
        regex = re.compile(pattern)
        ids = []
        for window, name, instance, *_ in self.windows():
            value = {"name": name, "classname": instance}[by]
            if regex.search(value) and (not only_visible or self.viewable(window)):
                ids.append(window)
        return ids

    def visible_window(self, title):
        ids = self.window_ids(f"^{title}$", only_visible=True)
        return ids[0] if len(ids) == 1 else None

    def tray_icon(self):
        for window, name, instance, x, y, width, height in self.windows():
            if instance == "orvane-pelix-companion" and width < 64 and height < 64 and width > 4 \
                    and self.viewable(window):
                return window, x + width // 2, y + height // 2
        return None

    def menu_window(self):
        for window, name, instance, x, y, width, height in self.windows():
            if name == APP_NAME and instance == "orvane-pelix-companion" and height > 100 \
                    and self.viewable(window):
                return window
        return None

    def open_menu(self):
        """Right-clicks the tray icon until its menu shows. A click that lands while the previous
        popup is still closing only ends that popup, as it would under a person's hand."""
        icon = wait_for(self.tray_icon, 10, "the tray icon")
        _, x, y = icon
        for _ in range(4):
            time.sleep(0.3)
            self.run(["xdotool", "mousemove", str(x), str(y), "click", "3"])
            try:
                menu = wait_for(self.menu_window, 2, "the tray menu")
            except FlowFailed:
                continue
            # Let the popup take the keyboard before anything is typed into it.
            time.sleep(0.3)
            return menu
        raise FlowFailed("the tray menu did not open after four clicks on the icon")

    def choose(self, item):
        self.open_menu()
        steps = MENU.index(item) + 1
        self.run(["xdotool", "key", "--delay", "30"] + ["Down"] * steps + ["Return"])

    def screenshot(self, name, window=None):
        path = self.artifacts / f"{name}.png"
        target = str(window) if window else "root"
        self.run(["import", "-window", target, str(path)], check=False)
        return path

    def close_window(self, window):
        """Asks the window to close as its title bar's close button would (WM_DELETE_WINDOW)."""
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                        ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                        ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 24)]

        display = x11.XOpenDisplay(f":{self.display}".encode())
        event = ClientMessage()
        event.type = 33  # ClientMessage
        event.window = window
        event.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.format = 32
        event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
        x11.XCloseDisplay(display)
        wait_for(lambda: not self.viewable(window), 5, "the window to close")

    def clipboard(self):
        return self.run(["xclip", "-o", "-selection", "clipboard"], check=False).stdout

    def stop_everything(self):
        if self.app and self.app.poll() is None:
            self.app.terminate()
            try:
                self.app.wait(5)
            except subprocess.TimeoutExpired:
                self.app.kill()
        for pid, _ in self.daemons(DAEMON) + self.daemons(CAPTURE_DAEMON):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(self.home, ignore_errors=True)
        if self.app_folder_copy:
            shutil.rmtree(self.app_folder_copy, ignore_errors=True)


# -- the flows ------------------------------------------------------------------------------------

def parent_of(pid):
    stat = Path(f"/proc/{pid}/stat").read_text()
    return int(stat.rsplit(")", 1)[1].split()[1])


def port_in_use(port=50051):
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        for line in Path(table).read_text().splitlines()[1:]:
            columns = line.split()
            if columns[3] == "0A" and int(columns[1].rsplit(":", 1)[1], 16) == port:
                return True
    return False


def flow_launch(s):
    if port_in_use():
        raise FlowFailed("port 50051 is already in use by another program; stop it and run again")
    s.launch_app()
    wait_for(s.tray_icon, 10, "the antenna icon in the tray")
    daemons = wait_for(s.daemons, 10, f"{DAEMON} to run")
    if len(daemons) != 1:
        raise FlowFailed(f"expected one daemon, found {daemons}")
    pid, argv = daemons[0]
    config = str(s.home / "data" / "Orvane Pelix" / "Companion" / "tarvelind")
    expected = ["-addr", "lan", "-port", "50051", "-config", config, "-pairing-code-file",
                config + "/pairing-code.json"]
    if argv[1:] != expected:
        raise FlowFailed(f"daemon command line {argv[1:]} is not {expected}")
    if parent_of(pid) != s.app.pid:
        raise FlowFailed("the daemon is not the companion's child")
    window = wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, f'"{PAIRING_TITLE}" to open')
    shown_after = time.monotonic() - s.launched_at
    if shown_after < 0.6:
        raise FlowFailed(f"the pairing window opened {shown_after:.2f} s after launch, before 0.6 s")
    time.sleep(1.5)
    windows = s.window_ids(f"^{PAIRING_TITLE}$", only_visible=True)
    if len(windows) != 1:
        raise FlowFailed(f"expected the pairing window once, found {len(windows)}")
    s.screenshot("pairing-window", window)


def pairing_file(s):
    import json
    path = s.home / "data" / "Orvane Pelix" / "Companion" / "tarvelind" / "pairing-code.json"
    return json.loads(path.read_text())


def flow_pairing(s):
    window = wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, "the pairing window")
    shot = s.screenshot("pairing-qr", window)
    decoded = s.run(["zbarimg", "--raw", "-q", str(shot)], check=False).stdout.strip()
    if not decoded:
        raise FlowFailed("no QR code could be read from the pairing window")
    s.run(["xdotool", "windowfocus", "--sync", str(window)], check=False)
    s.run(["xdotool", "key", "--window", str(window), "space"])
    link = wait_for(lambda: s.clipboard().strip() or None, 5, "the pairing link on the clipboard")
    if decoded != link:
        raise FlowFailed(f"the QR code says {decoded!r} but the copied link is {link!r}")
    payload = pairing_file(s)
    from urllib.parse import parse_qs, urlsplit
    parts = urlsplit(link)
    query = parse_qs(parts.query)
    if not link.startswith("orvane-pelix://pair?host="):
        raise FlowFailed(f"unexpected link {link!r}")
    if query.get("code") != [payload["pairingCode"]] or query.get("fingerprint") != [payload["serverFingerprint"]]:
        raise FlowFailed(f"link {link!r} does not carry the daemon's code and fingerprint {payload}")
    if query.get("port") != ["50051"]:
        raise FlowFailed(f"link {link!r} does not name port 50051")
    s.close_window(window)


def flow_digest(s):
    s.choose("Show Companion Digest...")
    window = wait_for(lambda: s.visible_window(DIGEST_TITLE), 10, f'"{DIGEST_TITLE}" to open')
    first = s.screenshot("digest-window", window)
    s.close_window(window)
    store = s.home / "data" / "Orvane Pelix" / "Companion" / "tarvelind" / "events.sqlite"
    s.run(["sqlite3", str(store),
           "INSERT INTO companion_events (created_at, kind, severity, summary) VALUES "
           "(strftime('%Y-%m-%dT%H:%M:%fZ','now'), 'lan.neighbor.joined', 'notice', "
           "'A new device joined your network during the end-to-end run.');"])
    s.choose("Show Companion Digest...")
    window = wait_for(lambda: s.visible_window(DIGEST_TITLE), 10, f'"{DIGEST_TITLE}" to open again')
    second = s.screenshot("digest-window-reopened", window)
    if first.read_bytes() == second.read_bytes():
        raise FlowFailed("the reopened digest shows the same as before a new event was stored")
    s.close_window(window)


def flow_supervision(s):
    (pid, _), = wait_for(s.daemons, 10, "a daemon")
    os.kill(pid, signal.SIGKILL)
    restarted = wait_for(lambda: [d for d in s.daemons() if d[0] != pid], 5, "a restarted daemon")
    s.choose("Stop Companion")
    wait_for(lambda: not s.daemons(), 5, "Stop Companion to leave no daemon running")
    s.choose("Start or Restart Companion")
    wait_for(lambda: [d for d in s.daemons() if d[0] != restarted[0][0]], 5, "Start Companion to start one")


def flow_menu_screenshot(s):
    menu = s.open_menu()
    time.sleep(0.3)
    shot = s.screenshot("menu-screen")
    # The corner with the tray and the menu hanging from it.
    s.run(["convert", str(shot), "-crop", "440x290+840+0", "+repage", str(s.artifacts / "menu.png")])
    s.run(["xdotool", "key", "Escape"])
    wait_for(lambda: not s.viewable(menu), 5, "the menu to close")


def flow_reopen(s):
    window = s.visible_window(PAIRING_TITLE)
    if window:
        s.close_window(window)
    second = s.run([str(s.app_binary())], check=False)
    if second.returncode != 0:
        raise FlowFailed(f"the second launch exited with {second.returncode}: {second.stderr}")
    wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, "the reopened pairing window")
    if s.app.poll() is not None:
        raise FlowFailed("the first instance ended")
    if len(s.daemons()) != 1:
        raise FlowFailed("a second companion started a second daemon")


def flow_quit(s):
    s.choose("Quit Orvane Pelix Companion")
    try:
        s.app.wait(10)
    except subprocess.TimeoutExpired:
        raise FlowFailed("Quit did not end the application")
    wait_for(lambda: not s.daemons(), 5, "the daemon to end after Quit")


def flow_capture(s):
    s.choose("Packet Capture Helper")
    # The confirmation: "Start Helper" is the default button.
    wait_for(lambda: s.visible_window(APP_NAME + "$") or s.window_ids("^Orvane Pelix Companion$", only_visible=True), 5, "the confirmation")
    time.sleep(0.3)
    s.screenshot("capture-confirmation")
    s.run(["xdotool", "key", "Return"])
    wait_for(lambda: s.daemons(CAPTURE_DAEMON), 15, f"{CAPTURE_DAEMON} to run")
    time.sleep(2.0)
    s.screenshot("capture-started")
    s.run(["xdotool", "key", "Return"])  # dismisses "Packet capture helper started"
    if s.daemons(DAEMON):
        raise FlowFailed("the lightweight daemon still runs beside the capture helper")
    s.choose("Packet Capture Helper")  # now "Stop Packet Capture Helper"
    wait_for(lambda: not s.daemons(CAPTURE_DAEMON), 15, "the capture helper to stop")
    wait_for(s.daemons, 15, "the lightweight daemon to come back")


FLOWS = {
    "launch": flow_launch,
    "pairing": flow_pairing,
    "menu": flow_menu_screenshot,
    "digest": flow_digest,
    "supervision": flow_supervision,
    "reopen": flow_reopen,
    "quit": flow_quit,
}


def run_session(app_folder, artifacts, flows):
    failures = 0
    session = Session(app_folder, artifacts)
    try:
        session.start_x()
        for name in flows:
            started = time.monotonic()
            try:
                FLOWS.get(name, flow_capture)(session)
                print(f"e2e {name}: passed ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as error:  # noqa: BLE001 - every failure is reported with its screen
                failures += 1
                shot = session.screenshot(f"failed-{name}")
                detail = str(error) if isinstance(error, FlowFailed) else traceback.format_exc()
                print(f"e2e {name}: FAILED: {detail}\n  screen: {shot}", flush=True)
                if name == "launch":
                    break
    finally:
        session.stop_everything()
    return failures


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    artifacts = Path(os.environ.get("E2E_ARTIFACTS", build / "e2e"))
    selected = sys.argv[2].split(",") if len(sys.argv) > 2 else None
    plan = [(build / APP_NAME, ["launch", "pairing", "menu", "digest", "supervision", "reopen", "quit"])]
    capture_app = build / "e2e-app"
    if (capture_app / "bin").exists():
        plan.append((capture_app, ["launch", "capture", "quit"]))
    passed = failed = 0
    for app_folder, flows in plan:
        flows = [f for f in flows if not selected or f in selected or f == "launch"]
        failures = run_session(app_folder, artifacts, flows)
        failed += failures
        passed += len(flows) - failures
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
