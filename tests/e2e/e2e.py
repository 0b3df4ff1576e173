#!/usr/bin/env python3
"""Drives the real application in a virtual X session as a person would: the tray icon and its
menu, windows found by their titles, the clipboard, screenshots. Each failed flow says why and
shows the screen. scripts/e2e runs it in a network of its own, with port 50051 free."""
import contextlib, json, os, re, shutil, signal, subprocess, sys, tempfile, time
import traceback
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

APP_NAME = "Orvane Pelix Companion"
DAEMON, CAPTURE_DAEMON = "tarvelind-darwin-arm64", "tarvelind-pcap-darwin-arm64"
PAIRING_TITLE, DIGEST_TITLE = "Orvane Pelix Pairing", "Companion Digest"
# The enabled items of the tray menu, in order: keyboard navigation skips the two status lines.
MENU = ["Show Pairing QR...", "Show Companion Digest...", "Packet Capture Helper", "Open at Login",
        "Start or Restart Companion", "Stop Companion", "Open Logs", "Remove Data and Quit...",
        "Quit Orvane Pelix Companion"]
# A line of `xwininfo -root -tree`: id, name, instance, size and absolute position.
TREE_LINE = re.compile(r'^\s+(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((?:"([^"]*)" "[^"]*")?\)'
                       r'\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)')
# The tray menu as a StatusNotifierItem host reads it, in the notation of describe() below.
SNI_MENU = ["!Companion Running", "!Menu bar app - use this menu to quit before deleting", "-",
            "Show Pairing QR... ^p", "Show Companion Digest... ^d", "Start Packet Capture Helper...",
            "Open at Login [ ]", "Restart Companion ^r", "Stop Companion ^s", "-", "Open Logs ^l",
            "Remove Data and Quit...", "-", "Quit Orvane Pelix Companion ^q"]
# An item of a dbusmenu layout as gdbus prints it (ours have no submenus), and one of its properties.
MENU_ITEM = re.compile(r"<\((\d+), \{(.*?)\}, @av \[\]\)>")
MENU_PROPERTY = re.compile(r"'([\w-]+)': <([^>]*)>")


class FlowFailed(Exception):
    """A flow's check that did not hold, with what was found instead."""


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise FlowFailed(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)
    return value


def describe(p):
    """An exported menu item as a line: "-" separator, "!" disabled, "^p" Control+p, "[ ]" unticked."""
    if p.get("type") == "separator":
        return "-"
    keys = "".join(" ^" + "+".join(k).removeprefix("Control+") for k in p.get("shortcut", []))
    mark = f" [{' x'[p.get('toggle-state') == 1]}]" if p.get("toggle-type") == "checkmark" else ""
    return ("" if p.get("enabled", True) else "!") + p.get("label", "") + keys + mark


class Session:
    def __init__(self, app_folder, artifacts, tray="xembed", delay=0):
        """tray: "xembed" (trayer), "sni" (watcher and host on a private bus) or "none"; with a
        delay, a flow starts it that many seconds after the companion."""
        self.tray, self.delay = tray, delay
        self.binary = str(Path(app_folder) / "bin" / "orvane-pelix-companion")
        self.artifacts = Path(artifacts)
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.home = Path(tempfile.mkdtemp(prefix="companion-e2e-"))
        self.config = self.home / "data" / "Orvane Pelix" / "Companion" / "tarvelind"
        self.processes, self.app = [], None
        # The lock files are shared with the machine even though the network is not.
        self.display = next(n for n in range(90, 200) if not Path(f"/tmp/.X{n}-lock").exists()
                            and not Path(f"/tmp/.X11-unix/X{n}").exists())
        (self.home / "runtime").mkdir(mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS")}
        self.env.update({f"XDG_{d.upper()}_{'DIR' if d == 'runtime' else 'HOME'}": str(self.home / d)
                         for d in ("data", "state", "config", "runtime")})
        self.env.update({"DISPLAY": f":{self.display}", "HOME": str(self.home), "LANG": "en_GB.UTF-8"})
        if tray == "sni":
            self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={self.home / 'bus'}"

    def start_x(self):
        self.spawn(["Xvfb", f":{self.display}", "-screen", "0", "1280x800x24", "-nolisten", "tcp"])
        wait_for(lambda: self.run(["xdpyinfo"], check=False).returncode == 0, 10, "Xvfb to start")
        if self.tray == "sni":
            self.spawn(["dbus-daemon", "--session", "--address", self.env["DBUS_SESSION_BUS_ADDRESS"],
                        "--nofork", "--nopidfile"])
            wait_for((self.home / "bus").exists, 10, "the session bus")
        if not self.delay:
            self.start_tray()

    def start_tray(self):
        if self.tray == "sni":
            self.spawn(["status-notifier-watcher"])
            wait_for(lambda: self.watcher("IsStatusNotifierHostRegistered"), 10, "the watcher")
            self.spawn(["gtk-sni-tray-standalone", "--top", "--size", "32", "--color", "#dddddd"])
            # Up before the companion: a host that comes later is what a delayed session is for.
            wait_for(lambda: "true" in self.watcher("IsStatusNotifierHostRegistered"), 10, "the host")
        if self.tray != "xembed":
            return
        self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                    "32", "--transparent", "false", "--tint", "0xdddddd", "--SetDockType", "true"])
        wait_for(lambda: [w for w in self.windows() if w[2] == "panel"], 10, "the tray host")

    def spawn(self, command):
        self.processes.append(subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))

    def run(self, command, check=True):
        return subprocess.run(command, env=self.env, capture_output=True, text=True, check=check,
                              timeout=30)

    def gdbus(self, name, path, method, *arguments):
        return self.run(["gdbus", "call", "--session", "--dest", name, "--object-path", path,
                         "--method", method, "--", *arguments], check=False).stdout

    def watcher(self, prop):
        return self.gdbus("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                          "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher", prop)

    def sni_items(self):
        """(bus name, object path) of each item the watcher lists; an entry may be a name alone."""
        return [(name, path or "/StatusNotifierItem") for name, path
                in re.findall(r"'([^'/]+)([^']*)'", self.watcher("RegisteredStatusNotifierItems"))]

    def layout(self, menu):
        """The revision of an exported menu and its items as (id, describe() line)."""
        reply = self.gdbus(*menu, "com.canonical.dbusmenu.GetLayout", "0", "-1", "[]")
        items = [(int(i), describe({k: json.loads(v.replace("'", '"')) for k, v
                                    in MENU_PROPERTY.findall(p)})) for i, p in MENU_ITEM.findall(reply)]
        return int(re.match(r"\(uint32 (\d+)|", reply)[1] or 0), items

    def launch_app(self):
        with open(self.artifacts / "companion.log", "ab") as log:
            self.app = subprocess.Popen([self.binary], env=self.env, stdout=log,
                                        stderr=subprocess.STDOUT)

    def daemons(self, name=DAEMON):
        """(pid, arguments) of every process of this session that runs the named daemon."""
        found = []
        for entry in Path("/proc").iterdir():
            with contextlib.suppress(OSError):
                argv = [a.decode() for a in (entry / "cmdline").read_bytes().split(b"\0") if a]
                if argv and Path(argv[0]).name == name and any(str(self.home) in a for a in argv):
                    found.append((int(entry.name), argv[1:]))
        return found

    def windows(self):
        """Every window as (id, name, instance, x, y, width, height), read from the window tree:
        xdotool's search misses override-redirect popups such as menus."""
        tree = self.run(["xwininfo", "-root", "-tree"], check=False).stdout
        return [(int(m[1], 16), m[2] or "", m[3] or "", int(m[6]), int(m[7]), int(m[4]), int(m[5]))
                for m in map(TREE_LINE.match, tree.splitlines()) if m]

    def viewable(self, window):
        return "IsViewable" in self.run(["xwininfo", "-id", str(window)], check=False).stdout

    def shown(self, title):
        return [w[0] for w in self.windows() if w[1] == title and self.viewable(w[0])]

    def visible_window(self, title):
        return ids[0] if len(ids := self.shown(title)) == 1 else None

    def tray_icon(self):
        return next(((x + width // 2, y + height // 2) for window, _, instance, x, y, width, height
                     in self.windows() if instance == "orvane-pelix-companion" and 4 < width < 64
                     and height < 64 and self.viewable(window)), None)

    def menu_window(self):
        return next((w[0] for w in self.windows() if w[1] == APP_NAME and w[6] > 100
                     and w[2] == "orvane-pelix-companion" and self.viewable(w[0])), None)

    def open_menu(self):
        """Right-clicks the tray icon until its menu shows. A click that lands while the previous
        popup is still closing only ends that popup, as it would under a person's hand."""
        x, y = wait_for(self.tray_icon, 10, "the tray icon")
        for _ in range(4):
            time.sleep(0.3)
            self.run(["xdotool", "mousemove", str(x), str(y), "click", "3"])
            try:
                menu = wait_for(self.menu_window, 2, "the tray menu")
            except FlowFailed:
                continue
            time.sleep(0.3)  # lets the popup take the keyboard before anything is typed into it
            return menu
        raise FlowFailed("the tray menu did not open after four clicks on the icon")

    def choose(self, item):
        self.open_menu()
        self.run(["xdotool", "key", "--delay", "30"] + ["Down"] * (MENU.index(item) + 1) + ["Return"])

    def screenshot(self, name, window=None):
        path = self.artifacts / f"{name}.png"
        self.run(["import", "-window", str(window) if window else "root", str(path)], check=False)
        return path

    def close_window(self, window):
        """Closes the window from the keyboard, as the desktop's other windows close."""
        self.run(["xdotool", "windowfocus", "--sync", str(window), "key", "ctrl+w"])
        wait_for(lambda: not self.viewable(window), 5, "the window to close")

    def stop_everything(self):
        if self.app and self.app.poll() is None:  # only after a failure
            self.app.kill()
            self.app.wait()
        for pid, _ in self.daemons(DAEMON) + self.daemons(CAPTURE_DAEMON):
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
        for process in reversed(self.processes):
            process.terminate()  # Xvfb removes its lock file only when it ends this way
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(self.home, ignore_errors=True)


def flow_launch(s):
    s.launch_app()
    wait_for(s.tray_icon, 10, "the antenna icon in the tray")
    daemons = wait_for(s.daemons, 10, f"{DAEMON} to run")
    expected = ["-addr", "lan", "-port", "50051", "-config", str(s.config), "-pairing-code-file",
                str(s.config / "pairing-code.json")]
    if [argv for _, argv in daemons] != [expected]:
        raise FlowFailed(f"expected one daemon run as {expected}, found {daemons}")
    stat = Path(f"/proc/{daemons[0][0]}/stat").read_text()
    if int(stat.rsplit(")", 1)[1].split()[1]) != s.app.pid:
        raise FlowFailed("the daemon is not the companion's child")
    window = wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, f'"{PAIRING_TITLE}" to open')
    s.screenshot("pairing-window", window)


def flow_pairing(s):
    window = wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, "the pairing window")
    shot = s.screenshot("pairing-qr", window)
    decoded = s.run(["zbarimg", "--raw", "-q", str(shot)], check=False).stdout.strip()
    if not decoded:
        raise FlowFailed("no QR code could be read from the pairing window")
    s.run(["xdotool", "windowfocus", "--sync", str(window)], check=False)
    s.run(["xdotool", "key", "--window", str(window), "space"])  # the Copy Pairing Link button
    clipboard = ["xclip", "-o", "-selection", "clipboard"]
    link = wait_for(lambda: s.run(clipboard, check=False).stdout.strip(), 5, "the copied link")
    if decoded != link:
        raise FlowFailed(f"the QR code says {decoded!r} but the copied link is {link!r}")
    payload = json.loads((s.config / "pairing-code.json").read_text())
    query = parse_qs(urlsplit(link).query)
    if not link.startswith("orvane-pelix://pair?host=") or query.get("port") != ["50051"] \
            or query.get("code") != [payload["pairingCode"]] \
            or query.get("fingerprint") != [payload["serverFingerprint"]]:
        raise FlowFailed(f"link {link!r} does not carry port 50051 and the daemon's {payload}")
    s.close_window(window)


def flow_menu(s):
    menu = s.open_menu()
    shot = s.screenshot("menu-screen")
    # The corner with the tray and the menu hanging from it.
    s.run(["convert", str(shot), "-crop", "440x290+840+0", "+repage", str(s.artifacts / "menu.png")])
    s.run(["xdotool", "key", "Escape"])
    wait_for(lambda: not s.viewable(menu), 5, "the menu to close")


def flow_digest(s):
    shots = []
    for name in ("digest-window", "digest-window-reopened"):
        s.choose("Show Companion Digest...")
        window = wait_for(lambda: s.visible_window(DIGEST_TITLE), 10, f'"{DIGEST_TITLE}" to open')
        shots.append(s.screenshot(name, window).read_bytes())
        s.close_window(window)
        s.run(["sqlite3", str(s.config / "events.sqlite"),
               "INSERT INTO companion_events (created_at, kind, severity, summary) VALUES "
               "(strftime('%Y-%m-%dT%H:%M:%fZ','now'), 'lan.neighbor.joined', 'notice', "
               "'A new device joined your network during the end-to-end run.');"])
    if shots[0] == shots[1]:
        raise FlowFailed("the reopened digest shows the same as before a new event was stored")


def flow_supervision(s):
    (pid, _), = wait_for(s.daemons, 10, "a daemon")
    os.kill(pid, signal.SIGKILL)
    (restarted, _), = wait_for(lambda: [d for d in s.daemons() if d[0] != pid], 5, "a restart")
    s.choose("Stop Companion")
    wait_for(lambda: not s.daemons(), 5, "Stop Companion to leave no daemon running")
    s.choose("Start or Restart Companion")
    wait_for(lambda: [d for d in s.daemons() if d[0] != restarted], 5, "Start to start one")


def flow_reopen(s):
    if window := s.visible_window(PAIRING_TITLE):
        s.close_window(window)
    second = s.run([s.binary], check=False)
    if second.returncode != 0:
        raise FlowFailed(f"the second launch exited with {second.returncode}: {second.stderr}")
    wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, "the reopened pairing window")
    if s.app.poll() is not None or len(s.daemons()) != 1:
        raise FlowFailed("the first instance ended, or a second daemon started")


def flow_quit(s):
    s.choose("Quit Orvane Pelix Companion")
    wait_quit(s)


def wait_quit(s):
    wait_for(lambda: s.app.poll() is not None, 10, "Quit to end the application")
    wait_for(lambda: not s.daemons(), 5, "the daemon to end after Quit")


def flow_ends(s):
    """A logout's SIGTERM and a terminal's SIGINT or SIGHUP end the companion as Quit does; killed
    outright, it leaves the kernel to stop its daemon."""
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGKILL):
        s.launch_app()
        wait_for(s.daemons, 10, "a daemon")
        s.app.send_signal(sig)
        wait_for(lambda: s.app.poll() is not None, 10, f"the companion to end on {sig.name}")
        if s.app.returncode != (-sig if sig == signal.SIGKILL else 0):
            raise FlowFailed(f"{sig.name} ended the companion with {s.app.returncode}")
        wait_for(lambda: not s.daemons(), 5, f"the daemon to end after {sig.name}")


def flow_capture(s):
    s.choose("Packet Capture Helper")
    wait_for(lambda: s.shown(APP_NAME), 5, "the confirmation")  # "Start Helper" is its default
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


def flow_sni(s):
    s.launch_app()
    (name, path), = wait_for(s.sni_items, 10, "the companion's item with the watcher")
    menu = name, wait_for(lambda: re.search(r"objectpath '([^']+)'", s.gdbus(
        name, path, "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierItem", "Menu")),
        5, "the item's menu")[1]
    revision, items = s.layout(menu)
    if [line for _, line in items] != SNI_MENU:
        raise FlowFailed(f"the exported menu reads {[line for _, line in items]}")
    ids = [i for i, _ in items]

    click = lambda line: s.gdbus(*menu, "com.canonical.dbusmenu.Event",  # noqa: E731
                                 str(ids[SNI_MENU.index(line)]), "clicked", "<0>", "0")

    def reads(status, restart):  # the status line and the restart item
        return lambda: [line for _, line in s.layout(menu)[1]][0:8:7] == [status, f"{restart} ^r"]

    s.close_window(wait_for(lambda: s.visible_window(PAIRING_TITLE), 10, "the first pairing window"))
    click("Show Pairing QR... ^p")
    wait_for(lambda: s.visible_window(PAIRING_TITLE), 5, f'"{PAIRING_TITLE}" to open from the menu')
    (pid, _), = wait_for(s.daemons, 10, "a daemon")
    os.kill(pid, signal.SIGKILL)
    wait_for(reads("!Companion Stopped", "Start Companion"), 1, "the menu to tell of the killed daemon")
    wait_for(reads("!Companion Running", "Restart Companion"), 5, "the menu to tell of its restart")
    click("Stop Companion ^s")
    wait_for(lambda: reads("!Companion Stopped", "Start Companion")() and not s.daemons(), 5,
             "Stop to end the daemon and the menu to tell of it")
    later, items = s.layout(menu)
    if later <= revision or [i for i, _ in items] != ids:
        raise FlowFailed(f"revision {later} and ids {[i for i, _ in items]} after Stop, "
                         f"{revision} and {ids} before")
    click("Restart Companion ^r")  # by the id it had while it read Restart
    wait_for(s.daemons, 5, "the first id of the restart item to start the daemon")
    bar = ["convert", str(s.screenshot("sni-tray")), "-crop", "1280x32+0+0", "-format", "%k", "info:"]
    if int(s.run(bar).stdout) < 2:  # colours in the bar the host draws along the top
        raise FlowFailed("the tray bar is blank: the host shows no icon for the item")
    click("Quit Orvane Pelix Companion ^q")
    wait_quit(s)


def flow_notray(s):
    s.launch_app()
    window = wait_for(lambda: s.visible_window(APP_NAME), 10, f'"{APP_NAME}" to stand for the tray')
    s.screenshot("no-tray-window", window)
    s.close_window(window)
    time.sleep(1)
    if s.app.poll() is not None or not s.daemons():
        raise FlowFailed("closing the window ended the companion or its daemon")
    flow_reopen(s)
    wait_for(lambda: s.visible_window(APP_NAME), 5, f'"{APP_NAME}" to show again on a second launch')


def flow_late_tray(s):
    s.launch_app()
    time.sleep(s.delay)
    window = wait_for(lambda: s.visible_window(APP_NAME), 0.5, f'"{APP_NAME}" with no tray')
    started = time.monotonic()
    s.start_tray()
    wait_for(lambda: (s.tray_icon() if s.tray == "xembed" else s.sni_items())
             and not s.viewable(window), max(0, started + 2 - time.monotonic()), "the tray to take it")
    s.screenshot(f"late-{s.tray}-tray")


flow_late_xembed = flow_late_sni = flow_late_tray


def run_session(app_folder, artifacts, flows, *tray):
    failures = 0
    session = Session(app_folder, artifacts, *tray)
    try:
        session.start_x()
        for name in flows:
            started = time.monotonic()
            try:
                globals()[f"flow_{name}"](session)
                print(f"e2e {name}: passed ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as error:  # noqa: BLE001 - every failure is reported with its screen
                failures += 1
                shot = session.screenshot(f"failed-{name}")
                detail = str(error) if isinstance(error, FlowFailed) else traceback.format_exc()
                print(f"e2e {name}: FAILED: {detail}\n  screen: {shot}", flush=True)
                if name == "launch":
                    failures += len(flows) - 1  # nothing else can run without the application
                    break
    finally:
        session.stop_everything()
    return failures


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    artifacts = Path(os.environ.get("E2E_ARTIFACTS", build / "e2e"))
    selected = sys.argv[2].split(",") if len(sys.argv) > 2 else None
    plan = [(build / APP_NAME, ["launch", "pairing", "menu", "digest", "supervision", "reopen",
                                "quit", "ends"])]
    if (build / "e2e-app" / "bin").exists():
        plan.append((build / "e2e-app", ["launch", "capture", "quit"]))
    plan += [(build / APP_NAME, [flow], *tray) for flow, *tray in [
        ("sni", "sni"), ("notray", "none"), ("late_xembed", "xembed", 5), ("late_sni", "sni", 5)]]
    passed = failed = 0
    for app_folder, flows, *tray in plan:
        if not (flows := [f for f in flows if not selected or f in selected or f == "launch"]):
            continue
        failed += (failures := run_session(app_folder, artifacts, flows, *tray))
        passed += len(flows) - failures
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
