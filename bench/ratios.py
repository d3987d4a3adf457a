#!/usr/bin/env python3
"""ratios.py RUNS_TSV... -> Markdown: per run file, each peer's median wall time and the ratio of
marlowick's median to it (below 1: marlowick is faster). Round 0 (warm-up) is left out.

The harness marks marlowick's copies of the small tree "FAIL missing=2": the tree has two empty
folders, and marlowick makes local folders only on the way to the files it fetches. The column
"differs" says what the check found."""
import collections
import csv
import statistics
import sys


def main():
    print("| run | peer | runs | median s | marlowick / peer | differs |")
    print("|---|---|---|---|---|---|")
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8", newline="") as f:
            rows = list(csv.DictReader(f, delimiter="\t"))
        groups = collections.OrderedDict()
        for r in rows:
            groups.setdefault(r["peer"], []).append(r)
        medians = {p: statistics.median(float(r["wall_s"]) for r in rs if r["round"] != "0")
                   for p, rs in groups.items() if any(r["round"] != "0" for r in rs)}
        ours = {p: m for p, m in medians.items() if p.startswith("marlowick")}
        run = path.rsplit("/", 2)[-2]
        for peer, med in medians.items():
            checks = collections.Counter(r["verified"] for r in groups[peer])
            bad = ", ".join(c for c in checks if c not in ("OK", "n/a")) or "-"
            ratio = " / ".join(f"{m / med:.2f}" for m in ours.values())
            timed = sum(1 for r in groups[peer] if r["round"] != "0")
            print(f"| {run} | {peer} | {timed} | {med:.3f} | {ratio} | {bad} |")


if __name__ == "__main__":
    main()
