#!/usr/bin/python3
# The real program under a headless Wayland compositor (sway), played with real pointer input
# from our own virtual pointer, twice: natively (WAYLAND_DISPLAY only) and through XWayland
# (DISPLAY as well), both times as in a desktop's Wayland session (XDG_SESSION_TYPE=wayland, no
# QT_QPA_PLATFORM), where Qt on its own would choose Wayland. Each time the program must run on
# the expected side (sway reports each window's shell), a press on "¶" moved onto a square
# must show an outline under the pointer and flag the square at the release, and a click must
# open a square. What the board shows is read from screenshots (grim), with the pointer moved
# off the windows.
#
#   wayland_check.py KELVORADX_EXECUTABLE VIRTUAL_POINTER DEMO_DIR
#
# sway refuses to run as root: run as root, the check runs sway, the program and the pointer
# as the user nobody, in a folder of their own. Exits 77 (skipped) only when sway cannot start
# here at all.
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OUTPUT = (1280, 1024)
CLIENT = (160, 257)  # the board window's client area, pixels: 2400 x 3855 twips
MARKER = (120, 224, 17, 25)  # Label2, in the client area
LABEL1 = (0, 168, 161, 41)
CYAN = (128, 255, 255)
NOBODY = 65534
HANG_GUARD = 10.0  # seconds; only ever reached when something is broken

passed = 0
failures = []


def check(ok, what):
    global passed
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if ok:
        passed += 1
    else:
        failures.append(what)
    return ok


def wait_for(condition, guard=HANG_GUARD):
    deadline = time.monotonic() + guard
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


def square_centre(i):
    return (i % 5 * 32 + 16, i // 5 * 32 + 16)


def square_inside(i):
    """Square i less its border and the strips it shares with its neighbours."""
    return (i % 5 * 32 + 5, i // 5 * 32 + 5, 23, 23)


class Image:
    def __init__(self, ppm):
        magic, size, maxval, self.data = ppm.split(b"\n", 3)  # as grim writes it
        if magic != b"P6" or maxval != b"255":
            raise ValueError("not a binary PPM of 8-bit channels")
        self.width, self.height = map(int, size.split())

    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.data[at:at + 3])

    def region(self, rect):
        x0, y0, w, h = rect
        return [self.pixel(x, y) for y in range(y0, y0 + h) for x in range(x0, x0 + w)]


class Session:
    """sway with its runtime folder, and the programs started in it."""

    def __init__(self, top):
        self.top = top
        self.run = os.path.join(top, "run")
        self.home = os.path.join(top, "home")
        self.processes = []
        self.sway = None
        self.x_display = None
        self.wayland_display = None
        self.sock = None
        self.as_nobody = os.getuid() == 0

    def command(self, args):
        if self.as_nobody:
            return ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] + args
        return args

    def environment(self, **extra):
        env = {"HOME": self.home, "XDG_RUNTIME_DIR": self.run, "PATH": "/usr/bin:/bin",
               "LANG": "C.UTF-8"}
        # A sanitized build's settings reach the program (scripts/test-sanitized.sh).
        env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        env.update({k: v for k, v in extra.items() if v is not None})
        return env

    def start(self, args, log=None, **kwargs):
        p = subprocess.Popen(self.command(args), stdout=log or subprocess.DEVNULL,
                             stderr=subprocess.STDOUT if log else subprocess.DEVNULL,
                             start_new_session=True, **kwargs)
        self.processes.append(p)
        return p

    def prepare(self):
        for folder in (self.run, self.home):
            os.mkdir(folder, 0o700)
            if self.as_nobody:
                os.chown(folder, NOBODY, NOBODY)
        os.chmod(self.top, 0o755)
        config = os.path.join(self.home, "config")
        with open(config, "w") as f:
            f.write(f"output HEADLESS-1 mode {OUTPUT[0]}x{OUTPUT[1]} position 0 0\n"
                    "default_border none\n"
                    "default_floating_border none\n"
                    "focus_follows_mouse no\n"
                    "xwayland enable\n"
                    "exec sh -c 'echo \"$DISPLAY\" > \"$XDG_RUNTIME_DIR/x-display.new\" && "
                    "mv \"$XDG_RUNTIME_DIR/x-display.new\" \"$XDG_RUNTIME_DIR/x-display\"'\n")
        return config

    def start_sway(self):
        config = self.prepare()
        self.sway_log = os.path.join(self.top, "sway.log")
        with open(self.sway_log, "w") as log:
            self.sway = self.start(["sway", "-c", config], log=log, env=self.environment(
                WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1"))

        def ready():
            if self.sway.poll() is not None:
                return True
            names = os.listdir(self.run)
            sockets = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            if sockets and ipc and "x-display" in names:
                self.wayland_display = sockets[0]
                self.sock = os.path.join(self.run, ipc[0])
                with open(os.path.join(self.run, "x-display")) as f:
                    self.x_display = f.read().strip()
                return True
            return False

        wait_for(ready)
        return self.sway.poll() is None and self.sock is not None

    def sway_log_tail(self):
        with open(self.sway_log, errors="replace") as f:
            return "".join(f.readlines()[-15:])

    def swaymsg(self, *args):
        out = subprocess.run(self.command(["swaymsg", "-s", self.sock] + list(args)),
                             env=self.environment(), capture_output=True, check=True)
        return json.loads(out.stdout)

    def windows_of(self, pid):
        found = []

        def walk(node):
            if node.get("pid") == pid and node.get("type") in ("con", "floating_con"):
                found.append(node)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)

        walk(self.swaymsg("-t", "get_tree"))
        return found

    def screenshot(self, rect):
        x, y, w, h = rect
        out = subprocess.run(self.command(["grim", "-t", "ppm", "-g", f"{x},{y} {w}x{h}", "-"]),
                             env=self.environment(WAYLAND_DISPLAY=self.wayland_display),
                             capture_output=True, check=True)
        return Image(out.stdout)

    def stop(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
        for p in reversed(self.processes):
            try:
                p.wait(3)
            except subprocess.TimeoutExpired:
                pass
        # Whatever is left and was started here (Xwayland, helpers of sway) carries our
        # runtime folder in its environment.
        mark = ("XDG_RUNTIME_DIR=" + self.run).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if mark in f.read().split(b"\0"):
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass


class Pointer:
    """Moves and presses at a hand's pace: XWayland under sway loses a press that comes within
    moments of the pointer's arrival in an X window, and motions that follow it too closely."""

    def __init__(self, session, executable):
        self.p = session.start([executable, str(OUTPUT[0]), str(OUTPUT[1])],
                               env=session.environment(WAYLAND_DISPLAY=session.wayland_display),
                               stdin=subprocess.PIPE, log=subprocess.PIPE)
        self.position = None

    def send(self, line):
        self.p.stdin.write((line + "\n").encode())
        self.p.stdin.flush()
        ready, _, _ = select.select([self.p.stdout], [], [], HANG_GUARD)
        answer = self.p.stdout.readline().decode().strip() if ready else ""
        if answer != "ok":
            raise RuntimeError(f"virtual pointer: '{line}' answered '{answer}'")

    def move(self, to, steps=6):
        start = self.position or to
        for k in range(1, steps + 1):
            self.send("move %d %d" % (start[0] + (to[0] - start[0]) * k // steps,
                                      start[1] + (to[1] - start[1]) * k // steps))
            time.sleep(0.015)
        self.position = to

    def press(self):
        time.sleep(0.2)
        self.send("down")

    def release(self):
        self.send("up")

    def close(self):
        self.p.stdin.close()
        self.p.wait(HANG_GUARD)


class Board:
    """The board window's client area on the screen."""

    def __init__(self, session, node):
        rect, inner = node["rect"], node["window_rect"]
        self.session = session
        self.x = rect["x"] + inner["x"]
        # The menu bar's height is the platform's; the client area fills the rest.
        self.y = rect["y"] + inner["y"] + inner["height"] - CLIENT[1]
        self.width = inner["width"]

    def at(self, point):
        return (self.x + point[0], self.y + point[1])

    def shot(self):
        return self.session.screenshot((self.x, self.y) + CLIENT)

    def shot_where(self, condition, guard=3.0):
        """The first screenshot that meets the condition, or None."""
        def attempt():
            shot = self.shot()
            return shot if condition(shot) else None
        return wait_for(attempt, guard)


def play(session, name, executable, pointer_executable, game_dir, env, shell):
    print(f"-- {name}", flush=True)
    game = session.start([executable], env=env, cwd=game_dir)

    def both_windows():
        found = session.windows_of(game.pid)
        return game.poll() is not None or (len(found) == 2 and found)

    windows = wait_for(both_windows)
    if not check(game.poll() is None and windows, f"{name}: both windows appear"):
        return
    check(all(w.get("shell") == shell for w in windows),
          f"{name}: runs as {shell} (sway says {[w.get('shell') for w in windows]})")

    # The compositor may stack the windows as it likes (sway centres both): set them apart.
    board_node = next((w for w in windows if w["name"] == "KelvoraDX"), None)
    if not check(board_node is not None, f"{name}: the board window is titled KelvoraDX"):
        return
    places = {w["id"]: (100, 100) if w is board_node else (400, 100) for w in windows}
    for con, (x, y) in places.items():
        session.swaymsg(f"[con_id={con}]", "move", "absolute", "position", str(x), str(y))
    moved = wait_for(lambda: all((w["rect"]["x"], w["rect"]["y"]) == places[w["id"]]
                                 for w in session.windows_of(game.pid)))
    check(moved, f"{name}: the windows move where sway is told")
    board = Board(session, next(w for w in session.windows_of(game.pid)
                                if w["id"] == board_node["id"]))
    if not check(board.width == CLIENT[0], f"{name}: the board is {CLIENT[0]} px wide"):
        return
    session.swaymsg(f"[con_id={board_node['id']}]", "focus")

    pointer = Pointer(session, pointer_executable)
    away = (5, 5)  # the desktop, clear of both windows
    try:
        pointer.move(away)

        # Drawn in full: the light-cyan ground in its place, and every square alike ("?"; the
        # first one may show the keyboard focus).
        def drawn(shot):
            inside = shot.region(square_inside(24))
            return shot.pixel(CLIENT[0] - 3, CLIENT[1] - 3) == CYAN and all(
                shot.region(square_inside(i)) == inside for i in range(1, 24))

        first = board.shot_where(drawn, guard=HANG_GUARD)
        if not check(bool(first), f"{name}: the board shows 25 squares where expected"):
            return

        # Two flags, dragged from the marker's centre to the centres of squares 6 and 18.
        press = (MARKER[0] + MARKER[2] // 2, MARKER[1] + MARKER[3] // 2)
        for target in (6, 18):
            drop = square_centre(target)
            pointer.move(board.at(press))
            pointer.press()
            pointer.move(board.at(drop))
            # The outline's top and left edges, left of and above the pointer's own image.
            top = drop[1] - (press[1] - MARKER[1])
            left = drop[0] - (press[0] - MARKER[0])
            edges = [(x, top) for x in range(left, drop[0])] + \
                    [(left, y) for y in range(top, drop[1])]
            shown = board.shot_where(lambda shot: all(shot.pixel(*p) != first.pixel(*p)
                                                      for p in edges))
            check(bool(shown), f"{name}: the outline follows the pointer onto square {target}")
            pointer.release()
            pointer.move(away)
        flagged = board.shot_where(lambda shot: all(
            shot.region(square_inside(i)) != first.region(square_inside(i)) for i in (6, 18)))
        check(bool(flagged), f"{name}: squares 6 and 18 change at the release")
        check(bool(flagged) and flagged.region(square_inside(6)) == flagged.region(
            square_inside(18)), f"{name}: both show the same caption, no outline left behind")
        check(bool(flagged) and flagged.region(LABEL1) == first.region(LABEL1),
              f"{name}: a drop writes no message")

        # A click on square 12 opens it: its caption and the message line change.
        pointer.move(board.at(square_centre(12)))
        pointer.press()
        pointer.release()
        pointer.move(away)
        opened = board.shot_where(lambda shot: shot.region(LABEL1) != first.region(LABEL1))
        check(bool(opened), f"{name}: a click writes the message line")
        check(bool(opened) and opened.region(square_inside(12)) != first.region(
            square_inside(12)), f"{name}: the clicked square changes")
    finally:
        pointer.close()
        game.terminate()
        game.wait(HANG_GUARD)


def main(executable, pointer_executable, demo_dir):
    for tool in ("sway", "swaymsg", "grim"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed (scripts/install-deps.sh installs it)")
            return 77
    top = tempfile.mkdtemp(prefix="kelvora-wayland-")
    session = Session(top)
    try:
        # Copies the user nobody can read, wherever the build tree is.
        os.chmod(top, 0o755)
        game_dir = os.path.join(top, "demo")
        shutil.copytree(demo_dir, game_dir)
        executable = shutil.copy(executable, top)
        pointer_executable = shutil.copy(pointer_executable, top)
        if not session.start_sway():
            print("SKIP: sway cannot run here:\n" + session.sway_log_tail())
            return 77
        print(f"sway: Wayland display {session.wayland_display}, X display "
              f"{session.x_display or '(none)'}", flush=True)
        # As in a desktop's Wayland session, where Qt on its own would pick Wayland.
        wayland = session.wayland_display
        play(session, "native Wayland", executable, pointer_executable, game_dir,
             session.environment(WAYLAND_DISPLAY=wayland, XDG_SESSION_TYPE="wayland"),
             "xdg_shell")
        if check(bool(session.x_display), "sway offers an X display (XWayland)"):
            play(session, "XWayland", executable, pointer_executable, game_dir,
                 session.environment(WAYLAND_DISPLAY=wayland, DISPLAY=session.x_display,
                                     XDG_SESSION_TYPE="wayland"), "xwayland")
    finally:
        session.stop()
        shutil.rmtree(top, ignore_errors=True)
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if len(sys.argv) != 4:
        print(__doc__ or "usage: wayland_check.py KELVORADX_EXECUTABLE VIRTUAL_POINTER DEMO_DIR")
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
