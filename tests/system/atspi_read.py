# Reads the running Sonivert window the way a screen reader does, through AT-SPI, and checks that
# every control a user acts on has a role and a name, that the lists are named for what they hold,
# and that a list's lines are read as their text (the file list shows the file named on the
# command line). Prints what is wrong and exits 1, else 0; waits up to 30 s for the window.
import sys
import time

import pyatspi

ACTED_ON = {"push button", "radio button", "list", "tree", "combo box", "slider", "progress bar"}


def walk(node, out):
    out.append((node.getRoleName(), node.name))
    if node.getRoleName() == "combo box":
        return out  # its drop-down list is the combo box itself to a reader
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        # The window's controls, and the lines of its lists (not the cells of the tree's table).
        if child is not None and child.getRoleName() not in ("table cell", "table column header"):
            walk(child, out)
    return out


def window():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Sonivert":
            return app
    return None


deadline = time.time() + 30
controls = []
while time.time() < deadline:
    app = window()
    if app is not None:
        controls = walk(app, [])
        # Read once the main window has laid out its lists.
        if ("list", "Converter queue") in controls and ("list item", sys.argv[1]) in controls:
            break
    time.sleep(0.2)
problems = []
roles = {role for role, _ in controls}
for role in sorted(ACTED_ON - roles):
    problems.append("no control of the role " + role)
for role, name in controls:
    if role in ACTED_ON and not name.strip():
        problems.append("a %s without a name" % role)
for named in [("list", "Converter queue"), ("list", "Source files"), ("tree", "Directory"),
              ("list item", sys.argv[1])]:
    if named not in controls:
        problems.append("no %s named %s" % named)
print("\n".join(problems) if problems else "%d controls read, all named" % len(controls))
sys.exit(1 if problems else 0)
