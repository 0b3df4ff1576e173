#!/usr/bin/env python3
"""The companion beside the least a Qt 6 tray program can be, launched in turn under Xvfb with an
XEmbed tray (trayer): the time from spawn to the icon embedded in the tray, resident and private
memory a few seconds after launch (the companion then shows its first pairing window, as a user
sees it), and context switches while both sit idle.

    desktop.py BUILD [--brief | --launches N]

BUILD is a build folder with the application and bench/desktop's minimal-tray. The run takes a
network of its own, so the companion's daemon finds its port free whatever runs on the machine.
"""
import ctypes, os, shutil, signal, statistics, subprocess, sys, tempfile, time
from pathlib import Path

PAIRING_TITLE = "Orvane Pelix Pairing"


class Xlib:
    """Just enough of Xlib to walk the window tree thousands of times a second."""

    class Attributes(ctypes.Structure):
        _fields_ = [(n, ctypes.c_int) for n in ("x", "y", "width", "height", "border", "depth")] + [
            ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
            ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
            ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
            ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
            ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
            ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
            ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
            ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]

    class ClassHint(ctypes.Structure):
        _fields_ = [("name", ctypes.c_void_p), ("class_", ctypes.c_void_p)]

    def __init__(self, display):
        x = self.x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        window_list = ctypes.POINTER(ctypes.c_ulong)
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(window_list),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XGetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(self.ClassHint)]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                           ctypes.POINTER(self.Attributes)]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        # A window that goes away between two calls is an error to ignore, not a reason to exit.
        self.ignore = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda *_: 0)
        x.XSetErrorHandler(self.ignore)
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError(f"cannot open display {display}")
        self.root = x.XDefaultRootWindow(self.display)

    def windows(self, window=None):
        """Every window below the root, depth first."""
        root, parent, children, count = ctypes.c_ulong(), ctypes.c_ulong(), \
            ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.x.XQueryTree(self.display, window or self.root, ctypes.byref(root),
                                 ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count)):
            return
        found = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        for child in found:
            yield child
            yield from self.windows(child)

    def instance(self, window):
        hint = self.ClassHint()
        if not self.x.XGetClassHint(self.display, window, ctypes.byref(hint)):
            return None
        name = ctypes.string_at(hint.name).decode(errors="replace") if hint.name else None
        for text in (hint.name, hint.class_):
            if text:
                self.x.XFree(text)
        return name

    def title(self, window):
        name = ctypes.c_void_p()
        if not self.x.XFetchName(self.display, window, ctypes.byref(name)) or not name.value:
            return None
        title = ctypes.string_at(name.value).decode(errors="replace")
        self.x.XFree(name)
        return title

    def viewable_size(self, window):
        attributes = self.Attributes()
        if not self.x.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return None
        return (attributes.width, attributes.height) if attributes.map_state == 2 else None

    def tray_icon(self, instance):
        """Whether a window of the program sits in the tray, mapped, at the size of an icon."""
        for window in self.windows():
            if self.instance(window) == instance:
                size = self.viewable_size(window)
                if size and 4 < size[0] < 64 and size[1] < 64:
                    return True
        return False

    def shows(self, title):
        return any(self.title(w) == title and self.viewable_size(w) for w in self.windows())


def private_network():
    """This process and its children get a network of their own with loopback up."""
    if ctypes.CDLL(None, use_errno=True).unshare(0x40000000) != 0:  # CLONE_NEWNET
        sys.exit("desktop: cannot unshare the network (run as root, as scripts/bench does)")
    subprocess.run(["ip", "link", "set", "dev", "lo", "up"], check=True)


def task_switches(pid):
    """Context switches of every thread of the process so far."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            for line in (task / "status").read_text().splitlines():
                if "ctxt_switches:" in line:
                    total += int(line.split()[1])
        except (OSError, ValueError):
            pass
    return total


def memory(pid):
    """Resident and private memory in MB (private: pages no other process maps)."""
    fields = {}
    for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines()[1:]:
        name, value = line.split(":")
        fields[name] = int(value.split()[0])
    return fields["Rss"] / 1024, (fields["Private_Clean"] + fields["Private_Dirty"]) / 1024


def launch(program, env, x, settle, idle):
    """One launch in a fresh home: (ms to the icon, RSS MB, private MB, switches per idle s)."""
    home = Path(tempfile.mkdtemp(prefix="desktop-bench-"))
    runtime = home / "runtime"
    runtime.mkdir(mode=0o700)
    env = dict(env, HOME=str(home), XDG_RUNTIME_DIR=str(runtime), XDG_DATA_HOME=str(home / "data"),
               XDG_STATE_HOME=str(home / "state"), XDG_CONFIG_HOME=str(home / "config"))
    instance = Path(program).name
    started = time.monotonic()
    process = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        while not x.tray_icon(instance):
            if process.poll() is not None or time.monotonic() - started > 20:
                raise RuntimeError(f"{instance} showed no tray icon")
            time.sleep(0.001)
        launched = (time.monotonic() - started) * 1000
        time.sleep(max(0.0, started + settle - time.monotonic()))
        if instance != "minimal-tray" and not x.shows(PAIRING_TITLE):
            raise RuntimeError(f"{instance} did not show its pairing window in {settle} s")
        rss, private = memory(process.pid)
        before = task_switches(process.pid)
        time.sleep(idle)
        switches = (task_switches(process.pid) - before) / idle
        return launched, rss, private, switches
    finally:
        process.send_signal(signal.SIGTERM)  # the companion ends as Quit ends it, daemon and all
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        # The daemon leaves its port a moment after the companion; the next launch needs it.
        while subprocess.run(["ss", "-Hltn", "sport = :50051"], capture_output=True,
                             text=True).stdout.strip():
            time.sleep(0.05)
        shutil.rmtree(home, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build, options = Path(sys.argv[1]), sys.argv[2:]
    launches, settle, idle = (1, 1.5, 1.0) if "--brief" in options else (5, 4.0, 10.0)
    if "--launches" in options:
        launches = int(options[options.index("--launches") + 1])
    programs = {"companion": build / "Orvane Pelix Companion" / "bin" / "orvane-pelix-companion",
                "minimal Qt tray": build / "bench" / "desktop" / "minimal-tray"}
    private_network()
    display = next(n for n in range(90, 200) if not Path(f"/tmp/.X{n}-lock").exists())
    env = {k: v for k, v in os.environ.items()
           if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS")}
    env.update(DISPLAY=f":{display}", LANG="en_GB.UTF-8")
    helpers = [subprocess.Popen(["Xvfb", f":{display}", "-screen", "0", "1280x800x24", "-nolisten",
                                 "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(200):
            if subprocess.run(["xdpyinfo"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        helpers.append(subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "32", "--SetDockType", "true"], env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        x = Xlib(env["DISPLAY"])
        while not any(x.instance(w) == "panel" for w in x.windows()):
            time.sleep(0.05)
        results = {name: [] for name in programs}
        for _ in range(launches):  # in turn, so a busy moment of the machine falls on both
            for name, program in programs.items():
                results[name].append(launch(str(program), env, x, settle, idle))
    finally:
        for helper in reversed(helpers):
            helper.terminate()
            helper.wait()

    columns = ("launch to icon (ms)", "resident (MB)", "private (MB)", "switches per idle s")
    medians = {n: [statistics.median(r[i] for r in runs) for i in range(4)]
               for n, runs in results.items()}
    print(f"{'desktop, median of ' + str(launches):24}" + "".join(f"{c:>22}" for c in columns))
    for name, values in medians.items():
        print(f"{name:24}" + "".join(f"{v:22.1f}" for v in values))
    companion, minimal = medians["companion"], medians["minimal Qt tray"]
    print(f"{'companion / minimal':24}" + "".join(
        f"{c / m:22.2f}" if m else f"{'-':>22}" for c, m in zip(companion[:3], minimal[:3])))


if __name__ == "__main__":
    main()
