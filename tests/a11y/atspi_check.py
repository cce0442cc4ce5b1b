#!/usr/bin/python3
"""End-to-end check through AT-SPI: the running program, with its simulated instrument, is driven
the way a screen reader or an automation tool drives it. The "CONFIG" button is pressed through its
accessible action, the entry box "输入1 输入上限" is found by its name, given a new value, and left;
the readback label "输入1 输入上限 读数" must then show the value the instrument took. Before that,
the program's first window must have given a control the keyboard focus by itself.

Runs under a private X server (Xvfb) and a private D-Bus session with the accessibility bus.
Exits 77 (reported as skipped) with a message when any of these is not available.

Usage: atspi_check.py BIN_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import warnings

# libatspi marks its per-interface getters deprecated; they are what its Python binding offers.
warnings.filterwarnings("ignore", category=DeprecationWarning)

SKIP = 77
INNER = "--inner"
DEADLINE = 45  # seconds for the whole check inside the session


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


def outer(bindir):
    for tool in ("Xvfb", "xvfb-run", "dbus-run-session"):
        if not shutil.which(tool):
            skip(tool + " is not installed (Debian packages xvfb, dbus-x11)")
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        skip("the accessibility bus is not installed (Debian package at-spi2-core)")
    probe = subprocess.run(
        [sys.executable, "-c",
         "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi"],
        capture_output=True)
    if probe.returncode != 0:
        skip("python3 AT-SPI bindings are missing (Debian packages gir1.2-atspi-2.0, python3-gi)")
    if not os.access(os.path.join(bindir, "velmars"), os.X_OK):
        print("FAIL: velmars not found in " + bindir)
        return 1
    cmd = ["xvfb-run", "-a", "-s", "-screen 0 1600x1000x24", "dbus-run-session", "--",
           sys.executable, os.path.abspath(__file__), INNER, bindir]
    try:
        r = subprocess.run(cmd, timeout=DEADLINE + 10)
    except subprocess.TimeoutExpired:
        print("FAIL: the check did not finish in time")
        return 1
    return r.returncode


def inner(bindir):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    Atspi.init()
    start = time.monotonic()

    def left():
        return DEADLINE - (time.monotonic() - start)

    def fail(msg):
        raise SystemExit("FAIL: " + msg)

    def find(root, name, role=None):
        """The first object under root with this accessible name (and role name)."""
        stack = [root]
        while stack:
            o = stack.pop()
            if o is None:
                continue
            try:
                if o.get_name() == name and (role is None or o.get_role_name() == role):
                    return o
                if o.get_role() == Atspi.Role.LIST:  # list entries name no control
                    continue
                n = o.get_child_count()
                stack.extend(o.get_child_at_index(i) for i in reversed(range(n)))
            except gi.repository.GLib.Error:
                continue  # the object went away while we looked
        return None

    def wait_for(what, probe, timeout):
        end = time.monotonic() + min(timeout, max(0, left()))
        while True:
            v = probe()
            if v:
                return v
            if time.monotonic() > end:
                fail("timed out waiting for " + what)
            time.sleep(0.2)

    def text_of(o):
        t = o.get_text_iface()
        if t is None:
            fail("%s has no text interface" % o.get_name())
        return t.get_text(0, t.get_character_count())

    def press(o):
        a = o.get_action_iface()
        if a is None:
            fail("%s has no action" % o.get_name())
        names = [a.get_action_name(i) for i in range(a.get_n_actions())]
        a.do_action(names.index("Press") if "Press" in names else 0)

    # Bring up the accessibility bus and its registry before the program starts, so that the
    # program finds them at once and registers.
    try:
        Atspi.get_desktop(0).get_child_count()
    except gi.repository.GLib.Error as e:
        skip("the accessibility bus does not answer: %s" % e)

    work = tempfile.mkdtemp(prefix="a11y-")
    # A settings file of its own: one left with chambers would start the overview instead.
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               XDG_RUNTIME_DIR=work, XDG_CONFIG_HOME=work, XDG_DATA_HOME=work)
    env.pop("QT_ACCESSIBILITY", None)
    prog = subprocess.Popen(
        [os.path.join(bindir, "velmars"), "--simulate", "--connect", "--db",
         os.path.join(work, "Rdatabj.db"), "--quit-after", str(DEADLINE)],
        env=env)
    try:
        def the_app():
            d = Atspi.get_desktop(0)
            for i in range(d.get_child_count()):
                a = d.get_child_at_index(i)
                try:
                    if a is not None and a.get_process_id() == prog.pid:
                        return a
                except gi.repository.GLib.Error:
                    pass
            return None

        app = wait_for("the program on the accessibility bus", the_app, 20)
        config = wait_for("the CONFIG button", lambda: find(app, "CONFIG", "push button"), 20)
        # Editable lists are known by what they are, not by the entry they show.
        for name in ("通讯端口", "模块地址", "设定曲线 命令"):
            if find(app, name, "combo box") is None:
                fail("no list named " + name)
        # The program's first window takes the keyboard itself: a key works at once.
        def focused(root):
            stack = [root]
            while stack:
                o = stack.pop()
                try:
                    if o is None or o.get_role() == Atspi.Role.LIST:
                        continue
                    if o.get_state_set().contains(Atspi.StateType.FOCUSED):
                        return o
                    stack.extend(o.get_child_at_index(i) for i in range(o.get_child_count()))
                except gi.repository.GLib.Error:
                    continue
            return None
        first = wait_for("a control with the keyboard focus", lambda: focused(app), 10)
        print("focus at start: %s (%s)" % (first.get_name(), first.get_role_name()))
        press(config)
        entry = wait_for("the entry box 输入1 输入上限",
                         lambda: find(app, "输入1 输入上限", "text"), 10)
        readback = wait_for("its readback", lambda: find(app, "输入1 输入上限 读数"), 5)
        # The window reads the instrument once a second: wait for the first readback.
        before = wait_for("a first readback", lambda: text_of(readback), 10)
        target = "1234" if before != "1234" else "4321"
        print("readback before: %s, writing %s" % (before, target))

        # A click on the box activates its window (there is no window manager on the private X
        # server) and gives the box the focus, as the operator's click would.
        ext = entry.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
        Atspi.generate_mouse_event(ext.x + ext.width // 2, ext.y + ext.height // 2, "b1c")
        wait_for("the focus in 输入1 输入上限",
                 lambda: entry.get_state_set().contains(Atspi.StateType.FOCUSED), 5)
        if not entry.get_editable_text_iface().set_text_contents(target):
            fail("the entry box did not take the text")
        # Tab moves the focus on; leaving the box writes it.
        Atspi.generate_keyboard_event(0xFF09, None, Atspi.KeySynthType.SYM)  # XK_Tab
        wait_for("the focus to leave 输入1 输入上限",
                 lambda: not entry.get_state_set().contains(Atspi.StateType.FOCUSED), 5)
        wait_for("the readback to show %s" % target,
                 lambda: text_of(readback) == target, 15)
        print("PASS: 输入1 输入上限 set to %s through AT-SPI; the instrument reads back %s"
              % (target, text_of(readback)))
        return 0
    finally:
        prog.terminate()
        try:
            prog.wait(timeout=5)
        except subprocess.TimeoutExpired:
            prog.kill()
            prog.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == INNER:
        sys.exit(inner(sys.argv[2]))
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(outer(sys.argv[1]))
