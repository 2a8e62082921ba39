# Reads the running Sonivert window through AT-SPI, as a screen reader does: every control a user
# acts on has its role and a name, the lists are named for what they hold, and a list's line reads
# as its text (the file list's line of the file named on the command line). Prints what is wrong
# and exits 1, else 0; waits up to 6 s for the window.
import sys
import time

import pyatspi

ACTED_ON = {"push button", "radio button", "list", "tree", "combo box", "slider", "progress bar"}
NAMED = [("list", "Converter queue"), ("list", "Source files"), ("tree", "Directory"), ("list item", sys.argv[1])]


def walk(node, out):
    out.append((node.getRoleName(), node.name))
    # A combo box's drop-down list is the combo box itself to a reader; the tree's cells are data.
    if node.getRoleName() != "combo box":
        for child in (node.getChildAtIndex(i) for i in range(node.childCount)):
            if child is not None and child.getRoleName() not in ("table cell", "table column header"):
                walk(child, out)
    return out


controls = []
deadline = time.time() + 6
while time.time() < deadline and not all(n in controls for n in NAMED):
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    controls = [c for app in apps if app is not None and app.name == "Sonivert" for c in walk(app, [])]
    time.sleep(0.2)
problems = ["no control of the role " + role for role in sorted(ACTED_ON - {r for r, _ in controls})]
problems += ["a %s without a name" % role for role, name in controls if role in ACTED_ON and not name.strip()]
problems += ["no %s named %s" % n for n in NAMED if n not in controls]
print("\n".join(problems) if problems else "%d controls read, all named" % len(controls))
sys.exit(1 if problems else 0)
