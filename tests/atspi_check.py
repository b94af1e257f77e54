#!/usr/bin/python3
# The real program read over AT-SPI as a screen reader reads it: the application on the
# accessibility bus, its board of 25 squares with their places, the named labels, the picture
# with its cover count and no covers of its own; then one square pressed through its action.
#
#   atspi_check.py KELVORADX_EXECUTABLE DEMO_DIR
#
# Needs an X server and a session bus on which the accessibility bus starts on demand; ctest
# runs it under xvfb-run and dbus-run-session. Exits 77 (skipped) without the AT-SPI bindings.
import os
import re
import subprocess
import sys
import time

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as e:
    print(f"SKIP: no AT-SPI bindings for Python ({e})")
    sys.exit(77)

HANG_GUARD = 30.0  # seconds; only ever reached when something is broken
MESSAGES_SAFE = re.compile(r"^(ふぅっ！セーフ！|まわりに([1-8])個爆弾がある！気をつけろ！)$")

passed = 0
failures = []


def check(ok, what):
    global passed
    print(("ok    " if ok else "FAIL  ") + what)
    if ok:
        passed += 1
    else:
        failures.append(what)


def pump():
    while GLib.MainContext.default().iteration(False):
        pass


def wait_for(condition):
    deadline = time.monotonic() + HANG_GUARD
    while time.monotonic() < deadline:
        pump()
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    return None


def fresh(acc):
    acc.clear_cache()
    return acc


def children(acc):
    return [acc.get_child_at_index(i) for i in range(acc.get_child_count())]


def descendants(acc):
    for child in children(acc):
        yield child
        yield from descendants(child)


def find_application():
    desktop = Atspi.get_desktop(0)
    for app in children(fresh(desktop)):
        if app is not None and app.get_name() == "KelvoraDX":
            return app
    return None


def main(executable, demo_dir):
    heard = []

    def on_event(event):
        source = event.source
        heard.append((event.type, source.get_role_name(), source.get_name()))

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:property-change:accessible-name")
    listener.register("object:property-change:accessible-description")

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    game = subprocess.Popen([executable], cwd=demo_dir, env=env)
    try:
        app = wait_for(find_application)
        check(app is not None, "KelvoraDX is on the accessibility bus")
        if app is None:
            return
        frames = {f.get_name(): f for f in children(app) if f.get_role() == Atspi.Role.FRAME}
        board = frames.get("KelvoraDX")
        picture = frames.get("Kelvora　このへんがＤＸ")
        check(board is not None and picture is not None, f"both windows found: {list(frames)}")
        if board is None or picture is None:
            return

        squares = [a for a in descendants(board) if a.get_role() == Atspi.Role.PUSH_BUTTON]
        check(len(squares) == 25, f"25 squares on the board ({len(squares)})")
        places = [f"Row {i // 5 + 1}, column {i % 5 + 1}" for i in range(25)]
        check([s.get_description() for s in squares] == places,
              "each square is described by its row and column, in reading order")
        check(all(s.get_name() == "?" for s in squares), 'every square reads "?" at the start')

        labels = {a.get_name(): a for a in descendants(board) if a.get_role() == Atspi.Role.LABEL}
        named = {"Message", "Flag marker", "Elapsed seconds", "Time"}
        check(named <= set(labels), f"named labels: {list(labels)}")
        if not named <= set(labels):
            return
        check(labels["Flag marker"].get_description() == "¶", "the flag marker says ¶")
        check(labels["Elapsed seconds"].get_description().isdigit(), "the clock says a number")

        shown = [a for a in descendants(picture) if a.get_role() != Atspi.Role.MENU_ITEM and
                 a.get_role() != Atspi.Role.MENU_BAR and a.get_role() != Atspi.Role.POPUP_MENU]
        roles = [a.get_role_name() for a in shown]
        check(roles == ["filler", "image"], f"the picture window shows no covers: {roles}")
        image = shown[-1]
        check(image.get_name() == "Picture, 20 of 20 covers in place",
              f"the picture counts its covers: {image.get_name()!r}")

        # Opening the middle square through its action, as a screen reader user does.
        square = squares[12]
        square.do_action(0)
        wait_for(lambda: fresh(square).get_name() != "?")
        caption = square.get_name()
        message = fresh(labels["Message"]).get_description()
        covers = fresh(image).get_name()
        if caption == "*":
            check(message == "どかーん！", f"a bomb: the message says so ({message!r})")
            check(covers == "Picture, 20 of 20 covers in place", f"no cover lifted ({covers!r})")
            check(not fresh(square).get_state_set().contains(Atspi.StateType.ENABLED),
                  "the board is frozen")
        else:
            found = MESSAGES_SAFE.match(message)
            check(found is not None and (found.group(2) or "") == caption,
                  f"square reads {caption!r}, message {message!r}")
            check(covers == "Picture, 19 of 20 covers in place", f"one cover lifted ({covers!r})")
            wait_for(lambda: ("object:property-change:accessible-name", "image", covers) in heard)
            check(("object:property-change:accessible-name", "image", covers) in heard,
                  "the new cover count was announced")
        wait_for(lambda: any(e[0].endswith("accessible-description") and e[2] == "Message"
                             for e in heard))
        check(any(e[0].endswith("accessible-description") and e[2] == "Message" for e in heard),
              "the new message was announced")
    finally:
        game.kill()
        game.wait()
        listener.deregister("object:property-change:accessible-name")
        listener.deregister("object:property-change:accessible-description")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: atspi_check.py KELVORADX_EXECUTABLE DEMO_DIR")
    main(sys.argv[1], sys.argv[2])
    print(f"{passed} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)
