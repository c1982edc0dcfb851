# Twin of the view's event dispatch: seven global handlers, capture, the
# target's actor and bubbling to its parents, each call guarded.
import sys, time, traceback

class Face:
    def __init__(self, type, parent=None, actors=None, options=None, flags=None):
        self.type = type; self.parent = parent; self.actors = actors or {}
        self.options = options; self.flags = flags; self.state = None; self.data = None; self.text = None

class Event:
    def __init__(self, type, face, key=None, flags=()):
        self.type = type; self.face = face; self.key = key; self.flags = list(flags); self.offset = (0, 0)

EVT_NAMES = {'click': 'on-click', 'detect': 'on-detect', 'key': 'on-key', 'key-down': 'on-key-down', 'change': 'on-change'}
capturing = False
debug = False

class Halt(Exception): pass

def do_safe(fn, *args):
    try:
        return fn(*args)
    except Halt:
        return None
    except Exception as e:
        print("*** Error:", e)
        return None

def check_reactions(face, field): return None

def h_tab(face, event):
    if event.type == 'key-down' and event.key == '\t' and face.type != 'area':
        return 'stop'
    return event
def h_field_sync(face, event):
    if event.type == 'change' and face.type == 'field':
        face.data = face.text
    return None
def h_reactors(face, event):
    t = face.type
    if event.type in ('change', 'enter', 'unfocus'):
        if t in ('scroller', 'slider', 'check', 'radio', 'tab-panel', 'toggle'): check_reactions(face, 'data')
        elif t in ('field', 'area', 'drop-down'): check_reactions(face, 'text')
    elif event.type in ('move', 'moving') and t == 'window': check_reactions(face, 'offset')
    return None
def h_radio(face, event):
    if event.type == 'click' and face.type == 'radio':
        event.type = 'change'
    return event
def h_enter(face, event):
    if event.type == 'key' and event.key in ('\r', '\n'):
        if face.type in ('field', 'drop-down'): event.type = 'enter'
        elif face.type == 'button': event.type = 'click'
    return event
def h_debug(face, event):
    if debug: print("face> type:", face.type)
    return None
def h_dragging(face, event):
    opts = face.options
    if not (isinstance(opts, dict) and opts.get('drag-on')): return None
    return None

handlers = [('tab', h_tab), ('field-sync', h_field_sync), ('reactors', h_reactors), ('radio', h_radio),
            ('enter', h_enter), ('debug', h_debug), ('dragging', h_dragging)]

def do_actor(face, event, type):
    act = face.actors.get(EVT_NAMES[type]) if face.actors is not None else None
    if act:
        return do_safe(act, face, event)
    return None

def capture_events(face, event):
    if face.parent is not None:
        r = capture_events(face.parent, event)
        if r in ('stop', 'done'): return r
    if capturing:
        r = do_actor(face, event, 'detect')
        if r in ('stop', 'done'): return r
    return None

def awake(event, face=None, with_=False):
    if face is None:
        face = event.face
        if face is None: return None
    if not with_:
        for name, h in handlers:
            r = do_safe(h, face, event)
            if isinstance(r, Event): event = r
            elif r is None or r is False: pass
            else: return r
        r = capture_events(face, event)
        if r in ('stop', 'done'): return r
    result = do_actor(face, event, event.type)
    if face.parent is not None and result not in ('done', 'continue'):
        if awake(event, face.parent, True) == 'stop': return 'stop'
    if event.type == 'close' and result != 'continue':
        result = 'done'
    return result

w = Face('window', actors={'on-click': lambda f, e: None})
p = Face('panel', parent=w)
b = Face('button', parent=p, actors={'on-click': lambda f, e: None})
e = Event('click', b)
n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
t = time.process_time()
for i in range(n):
    awake(e)
print("awake x%d: %.3f s" % (n, time.process_time() - t))
