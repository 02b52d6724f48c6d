#!/usr/bin/python3
"""What a desktop sees of a running client, from outside the process.

  desktopprobe.py tray-host 0              a StatusNotifierWatcher with a host registered
  desktopprobe.py tray PID                 the client's StatusNotifierItem as the
                                           watcher lists it: tooltip, icon, menu (JSON)
  desktopprobe.py tray-wait PID SECONDS    waits until the watcher lists the item
  desktopprobe.py tray-click PID LABEL     clicks a menu entry through the exported menu
  desktopprobe.py tray-activate PID        a plain click on the icon
  desktopprobe.py a11y-window PID          "visible" when the client shows a window, else "hidden"
  desktopprobe.py a11y-tree PID            every showing control: role, name, states (JSON)
  desktopprobe.py a11y-audit PID TAB...    presses each tab in turn and lists every showing
                                           control without a role or a name; fails if any
  desktopprobe.py a11y-select-tab PID NAME presses the tab of that name
  desktopprobe.py a11y-press PID NAME      presses the button of that name
  desktopprobe.py a11y-card PID            the status card's name (its state)
  desktopprobe.py a11y-text PID NAME       the text of the control of that name

Every query fails loudly (exit status 1, a line on stderr) when what it asks
for is not there.
"""

import hashlib
import json
import sys
import time

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"


def fail(message):
    print("desktopprobe: " + message, file=sys.stderr)
    sys.exit(1)


# ---- StatusNotifierItem, over the session bus ----


def session_bus():
    import dbus

    return dbus.SessionBus()


def registered_items(bus):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    return [str(i) for i in watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPS)]


def item_of(bus, pid):
    """The (service, path) of the item whose connection belongs to pid."""
    daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
    for entry in registered_items(bus):
        # Hosts write "service/path" (waybar) or "service@/path" (GNOME's
        # AppIndicator extension), or the bare service.
        if "@/" in entry:
            service, _, path = entry.partition("@")
        else:
            service, _, path = entry.partition("/")
            path = "/" + path if path else "/StatusNotifierItem"
        try:
            owner_pid = int(daemon.GetConnectionUnixProcessID(service, dbus_interface="org.freedesktop.DBus"))
        except Exception:  # an item whose owner has gone
            continue
        if owner_pid == pid:
            return service, path
    return None





def menu_layout(bus, service, menu_path):
    menu = bus.get_object(service, menu_path)
    _, layout = menu.GetLayout(0, -1, [], dbus_interface=MENU)
    entries = []
    for child in layout[2]:
        ident, props = int(child[0]), child[1]
        if str(props.get("type", "")) == "separator":
            entries.append({"id": ident, "label": "-"})
        else:
            entries.append(
                {
                    "id": ident,
                    "label": str(props.get("label", "")),
                    "enabled": bool(props.get("enabled", True)),
                    "visible": bool(props.get("visible", True)),
                }
            )
    return entries


def tray_state(pid):
    bus = session_bus()
    found = item_of(bus, pid)
    if not found:
        fail("no StatusNotifierItem of process %d among %s" % (pid, registered_items(bus)))
    service, path = found
    item = bus.get_object(service, path)
    props = item.GetAll(ITEM, dbus_interface=PROPS)
    pixmaps = props.get("IconPixmap", [])
    digest = hashlib.sha256()
    for width, height, data in pixmaps:
        digest.update(b"%d,%d;" % (int(width), int(height)))
        digest.update(bytes(bytearray(data)))
    tooltip = props.get("ToolTip", ("", [], "", ""))
    return {
        "address": service + path,
        "id": str(props.get("Id", "")),
        "status": str(props.get("Status", "")),
        "iconName": str(props.get("IconName", "")),
        "iconPixmap": digest.hexdigest() if pixmaps else "",
        "tooltip": str(tooltip[2]),
        "menu": menu_layout(bus, service, str(props.get("Menu", "/MenuBar"))),
    }


def tray_host():
    bus = session_bus()
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    if not bool(watcher.Get(WATCHER, "IsStatusNotifierHostRegistered", dbus_interface=PROPS)):
        fail("the watcher has no host")


def tray_wait(pid, seconds):
    bus = session_bus()
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if item_of(bus, pid):
                return
        except Exception:  # the watcher itself may not be up yet
            pass
        time.sleep(0.2)
    fail("process %d registered no StatusNotifierItem within %s s" % (pid, seconds))


def tray_click(pid, label):
    bus = session_bus()
    state = tray_state(pid)
    for entry in state["menu"]:
        if entry["label"] == label:
            service, path = item_of(bus, pid)
            item = bus.get_object(service, path)
            menu_path = str(item.Get(ITEM, "Menu", dbus_interface=PROPS))
            import dbus

            bus.get_object(service, menu_path).Event(
                entry["id"], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU
            )
            return
    fail("no menu entry %r in %s" % (label, [e["label"] for e in state["menu"]]))


def tray_activate(pid):
    bus = session_bus()
    found = item_of(bus, pid)
    if not found:
        fail("no StatusNotifierItem of process %d" % pid)
    bus.get_object(*found).Activate(0, 0, dbus_interface=ITEM)


# ---- the accessibility tree, as a screen reader reads it ----


def application(pid, seconds=20):
    import pyatspi

    deadline = time.time() + seconds
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        time.sleep(0.3)
    fail("process %d is not on the accessibility bus" % pid)


INTERACTIVE = {
    "push button",
    "toggle button",
    "check box",
    "radio button",
    "combo box",
    "text",
    "password text",
    "entry",
    "page tab",
    "spin button",
    "slider",
    "table",
    "list",
    "tree table",
    "link",
}


def walk(node, depth=0):
    import pyatspi

    if node is None or depth > 40:
        return
    yield node
    try:
        states = node.getState()
        if states.contains(pyatspi.STATE_DEFUNCT):
            return
        count = node.childCount
    except Exception:
        return
    # Tables list their cells as children: a reader reads the table itself.
    if node.getRoleName() in ("table", "tree table", "list"):
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def showing(node):
    import pyatspi

    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) and states.contains(pyatspi.STATE_VISIBLE)


def a11y_tree(pid):
    import pyatspi

    nodes = []
    for node in walk(application(pid)):
        try:
            if not showing(node):
                continue
            role = node.getRoleName()
            states = node.getState()
            nodes.append(
                {
                    "role": role,
                    "name": node.name or "",
                    "description": node.description or "",
                    "interactive": role in INTERACTIVE,
                    "focusable": states.contains(pyatspi.STATE_FOCUSABLE),
                    "enabled": states.contains(pyatspi.STATE_ENABLED),
                    "parent": "%s %r" % (node.parent.getRoleName(), node.parent.name) if node.parent else "",
                    "children": node.childCount,
                }
            )
        except Exception:
            continue
    return nodes


def find(pid, role, name):
    for node in walk(application(pid)):
        try:
            if node.getRoleName() == role and node.name == name and showing(node):
                return node
        except Exception:
            continue
    fail("no showing %s named %r" % (role, name))


def press(node):
    """Runs the control's first action: "Press" for buttons and tabs."""
    action = node.queryAction()
    if action.nActions < 1 or not action.doAction(0):
        fail("the action of %r did not run" % node.name)


def a11y_window(pid):
    import pyatspi

    for window in application(pid):
        try:
            if window.getRoleName() in ("frame", "window", "dialog", "filler") and showing(window):
                return "visible"
        except Exception:
            continue
    return "hidden"


def a11y_card(pid):
    for node in walk(application(pid)):
        try:
            if node.description in ("State of the VPN connection", "VPN 连接状态"):
                return node.name
        except Exception:
            continue
    fail("no status card on the accessibility bus")


def a11y_text(pid, name):
    """The text a reader reads for the control named `name`: its text
    interface where it has one, else its description."""
    seen = []
    for node in walk(application(pid)):
        try:
            if node.name != name or not showing(node) or node.getRoleName() == "page tab":
                continue
            seen.append("%s %s" % (node.getRoleName(), node.get_interfaces()))
            try:
                text = node.queryText()
                return text.getText(0, text.characterCount)
            except NotImplementedError:
                pass
            if node.description:
                return node.description
        except Exception as error:
            seen.append(str(error))
            continue
    fail("no readable text named %r (%s)" % (name, "; ".join(seen)))


def a11y_audit(pid, tabs):
    """Each tab in turn, as a reader walks it: every control has a role and a name."""
    findings = []
    for tab in tabs:
        press(find(pid, "page tab", tab))
        time.sleep(0.5)
        controls = [n for n in a11y_tree(pid) if n["interactive"] or n["focusable"]]
        if len(controls) < 3:
            findings.append("%s: only %d controls reached" % (tab, len(controls)))
        for node in controls:
            if node["role"] in ("", "unknown", "invalid") or not node["name"].strip():
                findings.append("%s: %s %r in %s without a %s" % (tab, node["role"], node["name"], node["parent"],
                                                                "name" if node["role"] else "role"))
        print("%s: %d controls, all named" % (tab, len(controls)) if not findings else "%s: checked" % tab)
    if findings:
        fail("\n  ".join(["unnamed controls:"] + findings))


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    command, pid = argv[1], int(argv[2])
    rest = argv[3:]
    if command == "tray":
        print(json.dumps(tray_state(pid), ensure_ascii=False))
    elif command == "tray-host":
        tray_host()
    elif command == "tray-wait":
        tray_wait(pid, float(rest[0]))
    elif command == "tray-click":
        tray_click(pid, rest[0])
    elif command == "tray-activate":
        tray_activate(pid)
    elif command == "a11y-tree":
        print(json.dumps(a11y_tree(pid), ensure_ascii=False))
    elif command == "a11y-audit":
        a11y_audit(pid, rest)
    elif command == "a11y-select-tab":
        press(find(pid, "page tab", rest[0]))
    elif command == "a11y-press":
        press(find(pid, "push button", rest[0]))
    elif command == "a11y-window":
        print(a11y_window(pid))
    elif command == "a11y-card":
        print(a11y_card(pid))
    elif command == "a11y-text":
        print(a11y_text(pid, rest[0]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
