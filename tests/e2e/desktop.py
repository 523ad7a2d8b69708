"""A virtual desktop to work a real program in, as a person would.

Xvfb gives the screen, openbox the window manager (so windows get focus and
frames as on a desktop), the accessibility bus lets us read what the program
shows (windows, labels, message boxes) and xdotool moves the mouse and types.
Everything started here is ended here, by its own process id.
"""

import ctypes
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

DEFAULT_DEADLINE = 60.0


class WalkError(AssertionError):
    pass


class GivingUp(WalkError):
    """A failure that no amount of waiting mends, such as the program's end."""


def wait_for(what, probe, deadline=DEFAULT_DEADLINE, interval=0.1):
    """Polls probe() until it gives a true value, which it returns."""
    end = time.monotonic() + deadline
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except GivingUp:
            raise
        except Exception as error:  # the tree changes under our feet
            last_error = error
        if time.monotonic() > end:
            detail = f" (last error: {last_error!r})" if last_error else ""
            raise WalkError(f"waited {deadline:.0f} s for {what}{detail}")
        time.sleep(interval)


def holds_for(seconds, probe, interval=0.1):
    """Whether probe() stays true for that long."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not probe():
            return False
        time.sleep(interval)
    return bool(probe())


def become_subreaper():
    """Orphaned descendants (a converter left behind by a killed program)
    then become our children, where the leftover check finds them."""
    PR_SET_CHILD_SUBREAPER = 36
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def process_table():
    """pid -> (ppid, sid, state, name, command line) of every process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read().decode(errors="replace")
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:
            continue
        name = stat[stat.index("(") + 1 : stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2 :].split()
        table[int(entry)] = (int(fields[1]), int(fields[3]), fields[0], name, cmdline)
    return table


def descendants(root, table=None):
    table = table if table is not None else process_table()
    found, frontier = [], [root]
    while frontier:
        parent = frontier.pop()
        for pid, (ppid, *_rest) in table.items():
            if ppid == parent:
                found.append(pid)
                frontier.append(pid)
    return found


class VirtualDesktop:
    """Xvfb + openbox + a session bus with the accessibility bus, all ended
    by close(). Use as a context manager."""

    def __init__(self, size="1280x1024"):
        self.size = size
        self.processes = []
        self.env = dict(os.environ)

    def __enter__(self):
        # Seen once in many runs with other test runs on the machine: the
        # window manager could not open the display its X server had just
        # announced. Such a desktop is set up anew, on another display.
        for attempt in (1, 2, 3):
            try:
                self._start()
                return self
            except WalkError as error:
                self.close()
                if attempt == 3:
                    raise
                log(f"the virtual desktop did not come up, setting it up again: {error}")
            except BaseException:
                self.close()
                raise

    def __exit__(self, *exc):
        self.close()

    def _spawn(self, args, **kwargs):
        process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def _spawn_telling(self, command):
        """Starts a server that writes a line on the descriptor given on its
        command line once it is ready, and gives that line."""
        read_end, write_end = os.pipe()
        self._spawn(command(str(write_end)), pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            line = f.readline().strip()
        if not line:
            raise WalkError(f"{command('N')[0]} did not start")
        return line

    def _start(self):
        for tool in ("Xvfb", "openbox", "xdotool", "xprop", "dbus-daemon", "import", "convert"):
            if not _which(tool):
                raise WalkError(f"{tool} is missing: tools/ensure-packages demo installs it")
        # Xvfb picks a free display, and tells which.
        number = self._spawn_telling(
            lambda fd: ["Xvfb", "-displayfd", fd, "-screen", "0", self.size + "x24", "-nolisten", "tcp"])
        self.env["DISPLAY"] = ":" + number
        self.env.pop("WAYLAND_DISPLAY", None)

        # A session bus of our own; the accessibility bus is started on it
        # on demand by the bus itself.
        address = self._spawn_telling(
            lambda fd: ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--print-address={fd}"])
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.runtime = tempfile.mkdtemp(prefix="oz-e2e-runtime-")
        os.chmod(self.runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.env.pop("QT_QPA_PLATFORM", None)
        os.environ.update({k: self.env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")})
        os.environ.pop("WAYLAND_DISPLAY", None)

        self.wm_log = tempfile.TemporaryFile()
        self.wm = self._spawn(["openbox"], stdout=self.wm_log, stderr=subprocess.STDOUT)
        try:
            wait_for("the window manager", self._window_manager_running, deadline=30)
        except WalkError as error:
            self.wm_log.seek(0)
            raise WalkError(f"{error}; Xvfb {'runs' if self.processes[0].poll() is None else 'ended'}, "
                            f"openbox {'runs' if self.wm.poll() is None else 'ended'}, its output: "
                            f"{self.wm_log.read().decode()!r}; xprop: {self._root_property()!r}")

        # Starting the accessibility registry before the program makes the
        # program join it at once.
        from accessible import Accessibility

        self.a11y = Accessibility()

    def _window_manager_running(self):
        if self.wm.poll() is not None:
            self.wm_log.seek(0)
            raise WalkError(f"openbox ended with status {self.wm.returncode}: {self.wm_log.read().decode()!r}")
        return "window id" in self._root_property()

    def _root_property(self):
        result = subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env, capture_output=True, text=True
        )
        return result.stdout + result.stderr

    def close(self):
        # Ends the accessibility services the bus started for us, then what
        # we started ourselves, youngest first.
        bus_children = []
        for process in self.processes:
            if process.args[0] == "dbus-daemon" and process.poll() is None:
                bus_children = descendants(process.pid)
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        for pid in bus_children:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        # Reap what the bus left to us as their subreaper.
        end = time.monotonic() + 10
        while time.monotonic() < end:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                time.sleep(0.05)
        self.processes.clear()
        if getattr(self, "runtime", None):
            subprocess.run(["rm", "-rf", self.runtime])

    # What a person does: look, point, click, type.

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True)
        if result.returncode != 0:
            raise WalkError(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
        return result.stdout

    def click(self, x, y, button=1):
        self.xdotool("mousemove", "--sync", int(x), int(y))
        self.xdotool("click", button)

    def type_text(self, text):
        self.add_letters(text)
        self.xdotool("type", "--delay", "30", "--", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "50", *keys)

    def add_letters(self, text):
        """Puts the letters of the text that the keyboard map lacks on spare
        keys, lower and upper case on one key, as on a keyboard that has
        them. xdotool can then type them as it types any letter; its own
        remapping of a key for each such letter, done on the fly, loses or
        miscases letters now and then."""
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        x11.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                            ctypes.POINTER(ctypes.c_int)]
        x11.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                               ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        for name in ("XDisplayKeycodes",):
            getattr(x11, name).argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_int)]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XFree.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        def keysym(char):
            code = ord(char)
            return code if 0x20 <= code <= 0xFF else 0x1000000 + code

        display = x11.XOpenDisplay(self.env["DISPLAY"].encode())
        if not display:
            raise WalkError("cannot open the display to extend the keyboard map")
        try:
            low, high = ctypes.c_int(), ctypes.c_int()
            x11.XDisplayKeycodes(display, ctypes.byref(low), ctypes.byref(high))
            count = high.value - low.value + 1
            per = ctypes.c_int()
            table = x11.XGetKeyboardMapping(display, low.value, count, ctypes.byref(per))
            rows = [[table[k * per.value + i] for i in range(per.value)] for k in range(count)]
            x11.XFree(table)
            present = {s for row in rows for s in row}
            spare = [low.value + k for k, row in enumerate(rows) if not any(row)]
            pairs = []
            for char in dict.fromkeys(text):
                if ord(char) < 0x80 or not char.isalpha():
                    continue
                lower, upper = char.lower(), char.upper()
                if len(upper) != 1 or keysym(lower) in present:
                    continue
                pairs.append((keysym(lower), keysym(upper)))
                present.add(keysym(lower))
            if len(pairs) > len(spare):
                raise WalkError("not enough spare keys for the letters to type")
            for (lower, upper), keycode in zip(pairs, spare):
                keysyms = (ctypes.c_ulong * 2)(lower, upper)
                x11.XChangeKeyboardMapping(display, keycode, 2, keysyms, 1)
            x11.XSync(display, 0)
        finally:
            x11.XCloseDisplay(display)

    def active_window(self):
        """(pid, title) of the window the window manager gave the focus to."""
        window = self.xdotool("getactivewindow").strip()
        pid = self.xdotool("getwindowpid", window).strip()
        return int(pid), self.xdotool("getwindowname", window).rstrip("\n")

    def describe_focus(self):
        try:
            focus = self.active_window()
        except WalkError as error:
            focus = str(error)
        wm = "runs" if self.wm.poll() is None else f"ended with {self.wm.returncode}"
        self.wm_log.seek(0)
        return f"{focus}; openbox {wm}, its output: {self.wm_log.read().decode()!r}"

    def frame_extents(self, title=None):
        """left, right, top, bottom of the window manager's frame around the
        window of that title, or the active window; no frame when there is
        no such window."""
        # Windows come and go while we look (a dialog closing, a tooltip):
        # one that goes between a search's listing and its query fails the
        # whole search, so a failed look is taken again.
        for attempt in range(5):
            try:
                if title is None:
                    window = self.xdotool("getactivewindow").strip()
                else:
                    found = self.xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$")
                    if not found.split():
                        return (0, 0, 0, 0)
                    window = found.split()[0]
            except WalkError:
                time.sleep(0.1)
                continue
            out = subprocess.run(
                ["xprop", "-id", window, "_NET_FRAME_EXTENTS"], env=self.env, capture_output=True, text=True
            ).stdout
            numbers = [int(n) for n in re.findall(r"\d+", out.split("=")[-1])] if "=" in out else []
            return tuple(numbers) if len(numbers) == 4 else (0, 0, 0, 0)
        return (0, 0, 0, 0)

    def screenshot(self, path, extents=None, frame=(0, 0, 0, 0)):
        """The screen, or the region of a window with its frame."""
        args = ["import", "-window", "root"]
        if extents:
            x, y, w, h = extents
            left, right, top, bottom = frame
            x, y = max(0, x - left), max(0, y - top)
            w, h = w + left + right, h + top + bottom
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run([*args, path], env=self.env, check=True, capture_output=True)
        return path


def _which(tool):
    return any(os.access(os.path.join(d, tool), os.X_OK) for d in os.environ.get("PATH", "").split(os.pathsep))


def log(message):
    print(message, flush=True, file=sys.stdout)
