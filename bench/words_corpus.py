#!/usr/bin/env python3
"""Gives the ports of a generated tree descriptions of a real vocabulary.

The generated tree's descriptions repeat a few dozen sentences, so their
words are few and every one common: no measure of a word index. This writes
in place of each pkg-descr (unlinked first: the tree may be a hard-linked
copy) about 360 bytes of words drawn from a vocabulary of 60,000 made-up
words by Zipf's law, as words of real text are, after a first sentence that
names the port, and its WWW: line. It prints a few words of the vocabulary
of falling frequency, for queries.
Usage: words_corpus.py TREE INDEX SEED
"""
import os
import random
import sys

tree, index, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(seed)
syllables = [c + v for c in "bcdfghjklmnprstvwz" for v in "aeiou"] + ["th", "st", "er", "an", "on"]
vocabulary, seen = [], set()
while len(vocabulary) < 60000:
    w = "".join(rng.choice(syllables) for _ in range(rng.choice([1, 2, 2, 3, 3, 3, 4, 4, 5])))
    if len(w) >= 2 and w not in seen:
        seen.add(w)
        vocabulary.append(w)
weights, total = [], 0.0
for r in range(len(vocabulary)):
    total += 1.0 / (r + 2.7)
    weights.append(total)

with open(index, encoding="latin-1") as f:
    lines = [l.split("|") for l in f if l.strip()]
for fields in lines:
    name = fields[0].rsplit("-", 1)[0]
    path = os.path.join(tree, fields[4].replace("/usr/ports/", "", 1))
    words = rng.choices(vocabulary, cum_weights=weights, k=rng.randint(40, 60))
    text, line = name + " is a " + " ".join(words[:3]) + ".", ""
    out = []
    for w in (text + " " + " ".join(words[3:]) + ".").split(" "):
        if len(line) + len(w) + 1 > 72:
            out.append(line)
            line = w
        else:
            line = (line + " " + w) if line else w
    out.append(line)
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n\nWWW: https://example.org/" + name + "/\n")
print(" ".join(vocabulary[r] for r in (300, 3000, 20000)))
