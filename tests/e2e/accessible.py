"""Reading the program's windows through the accessibility bus: which
windows are up, their texts, controls and places on the screen."""

import pyatspi


class Node:
    """One accessible object, with the few things a walk asks of it."""

    def __init__(self, acc):
        self.acc = acc

    @property
    def role(self):
        return self.acc.getRoleName()

    @property
    def name(self):
        return self.acc.name or ""

    def states(self):
        return {pyatspi.stateToString(s) for s in self.acc.getState().getStates()}

    @property
    def showing(self):
        return "showing" in self.states()

    @property
    def active(self):
        return "active" in self.states()

    @property
    def focused(self):
        return "focused" in self.states()

    def extents(self):
        e = self.acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)

    def centre(self):
        x, y, w, h = self.extents()
        return (x + w // 2, y + h // 2)

    def text(self):
        try:
            t = self.acc.queryText()
            return t.getText(0, t.characterCount)
        except NotImplementedError:
            return self.name

    def value(self):
        return self.acc.queryValue().currentValue

    def children(self):
        out = []
        for i in range(self.acc.childCount):
            child = self.acc.getChildAtIndex(i)
            if child is not None:
                out.append(Node(child))
        return out

    def descendants(self):
        for child in self.children():
            yield child
            yield from child.descendants()

    def find(self, role=None, name=None, showing=True):
        for node in self.descendants():
            if role is not None and node.role != role:
                continue
            if name is not None and node.name != name:
                continue
            if showing and not node.showing:
                continue
            return node
        return None

    def find_all(self, role=None, showing=True):
        return [n for n in self.descendants() if (role is None or n.role == role) and (not showing or n.showing)]

    def labels(self):
        return [n.name for n in self.find_all("label") if n.name]

    def describe(self, depth=0):
        lines = [f"{'  ' * depth}[{self.role}] {self.name!r} {sorted(self.states())}"]
        for child in self.children():
            lines.append(child.describe(depth + 1))
        return "\n".join(lines)


class Accessibility:
    def __init__(self):
        self.desktop = pyatspi.Registry.getDesktop(0)

    def application(self, name):
        for i in range(self.desktop.childCount):
            app = self.desktop.getChildAtIndex(i)
            if app is not None and app.name == name:
                return Node(app)
        return None

    def windows(self, app_name):
        app = self.application(app_name)
        if app is None:
            return []
        return [w for w in app.children() if _still_showing(w)]


def _still_showing(window):
    # A window that goes while we ask about it is no longer shown.
    try:
        return window.showing
    except Exception:
        return False
