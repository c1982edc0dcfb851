words = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa", "lambda"]
parts = []
for i in range(1, 2000001):
    parts.append(words[i % 11])
    parts.append(" ")
text = "".join(parts)
counts = {}
for w in text.split(" "):
    counts[w] = 1 + counts.get(w, 0)
print(len(counts))
