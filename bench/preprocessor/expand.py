# Rewriting the same nested lists: directives spliced, a macro applied.
def unit():
    return ["x:", "add", 1, 2, "if", "x", ">", 2, ["print", "x"]]

def expand(code):
    out = []
    i = 0
    macros = {}
    while i < len(code):
        v = code[i]
        if v == "#macro":
            name, args, body = code[i + 1], code[i + 2], code[i + 3]
            macros[name] = (len(args), body)
            i += 4
        elif v == "#if":
            cond, body = code[i + 1], code[i + 2]
            if cond:
                out.extend(expand(body))
            i += 3
        elif isinstance(v, str) and v in macros:
            arity, body = macros[v]
            out.extend(body(*code[i + 1:i + 1 + arity]))
            i += 1 + arity
        elif isinstance(v, list):
            out.append(expand(v))
            i += 1
        else:
            out.append(v)
            i += 1
    return out

code = []
for _ in range(30000):
    code.extend(unit())
n = len(expand(code))
code = ["#macro", "twice", ["v"], lambda v: [v, v]]
for i in range(1, 30001):
    code.extend(unit())
    if i % 15 == 0:
        code.extend(["#if", True, ["y:", 1], "twice", 7])
print(n, len(expand(code)))
