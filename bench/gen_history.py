#!/usr/bin/env python3
"""Writes a git fast-import stream of a synthetic history for a generated
ports tree, for bench/run.sh.

usage: gen_history.py INDEX COMMITS SEED [--append] [--end SECONDS]

Without --append: a first commit holding a Makefile in every port
directory of the INDEX and in every category, then COMMITS commits spread
evenly over the 330 days before --end (default 1780000000), on
refs/heads/main. Most change one port's Makefile; one in 50 changes three
ports, one in 100 only a category's Makefile. With --append: COMMITS more
commits after the branch's head, a minute apart from --end on.
Authors include names that are not ASCII; one subject in 40 holds markup.
"""
import random
import sys

AUTHORS = ["Ann Example", "Bob Builder", "Zoë Ünicode", "Łukasz Żółtowski",
           "Dave Example", "Chen Wei 陈伟", "Eve O'Neil", "Frank Mainer"]


def data(out, text):
    raw = text.encode()
    out.write(b"data %d\n" % len(raw))
    out.write(raw)
    out.write(b"\n")


def main():
    args = sys.argv[1:]
    append = "--append" in args
    end = 1780000000
    if "--end" in args:
        end = int(args[args.index("--end") + 1])
        del args[args.index("--end"):args.index("--end") + 2]
    args = [a for a in args if a != "--append"]
    index, commits, seed = args[0], int(args[1]), int(args[2])
    rng = random.Random(seed * 7919 + (1 if append else 0))
    ports = []
    with open(index, encoding="latin-1") as f:
        for line in f:
            fields = line.split("|")
            if len(fields) > 1:
                ports.append(fields[1].split("/usr/ports/", 1)[-1])
    categories = sorted({p.split("/")[0] for p in ports})
    out = sys.stdout.buffer
    mark = 0

    def commit(time, author, subject, files, first=False):
        nonlocal mark
        mark += 1
        out.write(b"commit refs/heads/main\nmark :%d\n" % mark)
        who = ("%s <committer@example.org> %d +0000\n" % (author, time)).encode()
        out.write(b"author " + who + b"committer " + who)
        data(out, subject)
        if first and append:
            out.write(b"from refs/heads/main^0\n")
        for path, text in files:
            out.write(b"M 100644 inline " + path.encode() + b"\n")
            data(out, text)

    if append:
        times = [end + 60 * i for i in range(commits)]
    else:
        start = end - 330 * 86400
        commit(start - 86400, "Importer", "Import the tree",
               [(p + "/Makefile", "PORTNAME= %s\n" % p.split("/")[1])
                for p in ports] +
               [(c + "/Makefile", "COMMENT= %s\n" % c) for c in categories])
        times = [start + (end - start) * i // max(commits, 1)
                 for i in range(commits)]
    for i, time in enumerate(times):
        author = rng.choice(AUTHORS)
        kind = rng.randrange(100)
        if kind == 0:
            c = rng.choice(categories)
            files = [(c + "/Makefile", "COMMENT= %s %d\n" % (c, i))]
            subject = "%s: the category's comment" % c
        else:
            chosen = rng.sample(ports, 3 if kind < 3 else 1)
            files = [(p + "/Makefile", "PORTREVISION= %d\n" % i)
                     for p in chosen]
            subject = "%s: update to %d.%d" % (chosen[0], i // 100, i % 100)
        if kind % 40 == 7:
            subject += " <fix> & more"
        commit(time, author, subject, files, first=(i == 0))


if __name__ == "__main__":
    main()
