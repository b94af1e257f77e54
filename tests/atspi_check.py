#!/usr/bin/python3
# The real program read over AT-SPI as a screen reader reads it: the application on the
# accessibility bus, its board of 25 squares with their places and actions, the named labels
# and the message line with their text, the picture with its cover count and no covers of its
# own, Japanese marked as Japanese; then one square flagged and one pressed through their
# actions, and the result announced by the message line's notification.
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


def text_of(acc):
    return Atspi.Text.get_text(acc, 0, Atspi.Text.get_character_count(acc))


def language(acc):
    attributes, _, _ = Atspi.Text.get_text_attributes(acc, 0)
    return attributes.get("language")


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
    listener.register("object:state-changed:showing")

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
        actions = [squares[0].get_action_name(i) for i in range(squares[0].get_n_actions())]
        check(actions == ["Press", "SetFocus", "Flag"], f"a square's actions: {actions}")

        labels = {a.get_name(): a for a in descendants(board) if a.get_role() == Atspi.Role.LABEL}
        named = {"Flag marker", "Elapsed seconds", "Time"}
        check(named <= set(labels), f"named labels: {list(labels)}")
        texts = {a.get_name(): a for a in descendants(board) if a.get_role() == Atspi.Role.TEXT}
        check(list(texts) == ["Message"], f"the message line reads as text: {list(texts)}")
        if not named <= set(labels) or "Message" not in texts:
            return
        message_line = texts["Message"]
        check(not message_line.get_state_set().contains(Atspi.StateType.EDITABLE),
              "the message line is read only")
        check(labels["Flag marker"].get_description() == "¶", "the flag marker says ¶")
        check(text_of(labels["Flag marker"]) == "¶", "the flag marker's text is ¶")
        check(text_of(labels["Elapsed seconds"]).isdigit(), "the clock's text is a number")
        check(language(picture) == "ja", f"the picture window's title is Japanese "
              f"({language(picture)!r})")
        check(language(board) is None, "the board window's title is not")

        shown = [a for a in descendants(picture) if a.get_role() != Atspi.Role.MENU_ITEM and
                 a.get_role() != Atspi.Role.MENU_BAR and a.get_role() != Atspi.Role.POPUP_MENU]
        roles = [a.get_role_name() for a in shown]
        check(roles == ["filler", "image"], f"the picture window shows no covers: {roles}")
        image = shown[-1]
        check(image.get_name() == "Picture, 20 of 20 covers in place",
              f"the picture counts its covers: {image.get_name()!r}")

        # A flag through the action a screen reader offers, then the middle square opened.
        squares[0].do_action(actions.index("Flag"))
        flagged = wait_for(lambda: fresh(squares[0]).get_name() == "¶")
        check(flagged, f"the action Flag flags the square ({squares[0].get_name()!r})")
        square = squares[12]
        square.do_action(0)
        wait_for(lambda: fresh(square).get_name() != "?")
        caption = square.get_name()
        message = text_of(fresh(message_line))
        covers = fresh(image).get_name()
        if caption == "*":
            check(message == "どかーん！", f"a bomb: the message says so ({message!r})")
            check(covers == "Picture, 20 of 20 covers in place", f"no cover lifted ({covers!r})")
            check(not fresh(square).get_state_set().contains(Atspi.StateType.ENABLED),
                  "the board is frozen")
        else:
            # An open square with nothing around has the caption "" and reads as open and empty.
            found = MESSAGES_SAFE.match(message)
            shows = "" if caption == "Open, empty" else caption
            check(found is not None and (found.group(2) or "") == shows,
                  f"square reads {caption!r}, message {message!r}")
            check(covers == "Picture, 19 of 20 covers in place", f"one cover lifted ({covers!r})")
            wait_for(lambda: ("object:property-change:accessible-name", "image", covers) in heard)
            check(("object:property-change:accessible-name", "image", covers) in heard,
                  "the new cover count was announced")
        check(language(message_line) == "ja", "the message is Japanese")
        # Pressed by its action, the square has not the focus: the message alone is announced.
        # (After a loss the focus rests on the message line, which reads it itself.)
        shown = ("object:state-changed:showing", "notification", message)
        if caption != "*":
            wait_for(lambda: shown in heard)
            check(shown in heard, f"the new message was announced: {heard[-2:]}")
    finally:
        game.kill()
        game.wait()
        listener.deregister("object:property-change:accessible-name")
        listener.deregister("object:state-changed:showing")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: atspi_check.py KELVORADX_EXECUTABLE DEMO_DIR")
    main(sys.argv[1], sys.argv[2])
    print(f"{passed} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)
