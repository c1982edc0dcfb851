# A record list scanned on each assignment: the relations of the field run.
class Reactor:
    def __init__(self, **fields):
        object.__setattr__(self, "_f", dict(fields))
    def __getattr__(self, k):
        return self._f[k]
    def __setattr__(self, k, v):
        self._f[k] = v
        for src, field, action in relations:
            if src is self and field == k:
                action()

relations = []
r = Reactor(a=0, b=0)
for _ in range(999):
    o = Reactor(v=0, w=0)
    relations.append((o, "v", (lambda o=o: setattr(o, "w", o.v + 1))))
relations.append((r, "a", lambda: setattr(r, "b", r.a * 2)))
for i in range(1, 20001):
    r.a = i
print(r.b)
