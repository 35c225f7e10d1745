#!/usr/bin/env python3
"""cells.py CLI ROUNDS FILE...: glyphmend-cli beside cat and dd bs=64k.

Each FILE is named ENCODING-DENSITY-MIB.txt. For each, four ways to move the
bytes (file to file, to /dev/null, to a pipe, pipe to pipe), each run by
cat, dd bs=64k, and glyphmend-cli plain, with --words and with --check,
ROUNDS times in turn so that all see the same machine load; the best time
of each counts. Prints one table row per file and way: the two copies'
times, each mode's ratio to the faster copy (marked ! above its goal), and
the mode's peak memory (marked ! above 8 MiB).
"""
import os
import subprocess
import sys
import time

GOALS = {"filter": 1.25, "--words": 1.5, "--check": 1.5}
MEMORY_GOAL_KIB = 8 * 1024

# How each way runs a tool; {tool} reads {file} itself, {stdin_tool} reads
# standard input.
WAYS = [
    ("file -> file", "{tool} {file} > {out}"),
    ("file -> /dev/null", "{tool} {file} > /dev/null"),
    ("file -> pipe", "{tool} {file} | cat > /dev/null"),
    ("pipe -> pipe", "cat {file} | {tool} | cat > /dev/null"),
]


def tools(cli, memory):
    timed = "/usr/bin/time -f %M -o " + memory + " "
    return {
        "cat": timed + "cat",
        "dd": timed + "dd bs=64k status=none if=",
        "filter": timed + cli,
        "--words": timed + cli + " --words",
        "--check": timed + cli + " --check",
    }


def command(template, tool, file, out):
    if tool.endswith("if=") and "{tool} {file}" not in template:
        tool = tool[:-len(" if=")]  # dd on standard input
    text = template.format(tool=tool, file=file, out=out)
    return text.replace("if= ", "if=")


def run_once(shell_command, out, memory):
    if os.path.exists(out):
        os.remove(out)
    start = time.perf_counter()
    subprocess.run(shell_command, shell=True, check=False)
    elapsed = time.perf_counter() - start
    with open(memory) as f:
        kib = int(f.read().split()[-1])
    return elapsed, kib


def measure(way, file, cli, rounds, work):
    memory = os.path.join(work, "memory.txt")
    out = os.path.join(work, "out.txt")
    commands = {name: command(way, tool, file, out) for name, tool in tools(cli, memory).items()}
    best = {name: (float("inf"), 0) for name in commands}
    for _ in range(rounds):
        for name, shell_command in commands.items():
            seconds, kib = run_once(shell_command, out, memory)
            if seconds < best[name][0]:
                best[name] = (seconds, kib)
    return best


def main():
    cli, rounds, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    work = os.path.dirname(os.path.abspath(files[0]))
    print("| text | input -> output | cat | dd bs=64k | filter | --words | --check | peak MiB |")
    print("|---|---|---|---|---|---|---|---|")
    misses = cells = 0
    for file in files:
        encoding, density, _ = os.path.basename(file)[:-len(".txt")].rsplit("-", 2)
        label = "%s %s %%" % (encoding, density)
        for name, way in WAYS:
            best = measure(way, file, cli, rounds, work)
            floor = min(best["cat"][0], best["dd"][0])
            row = [label, name, "%.3f s" % best["cat"][0], "%.3f s" % best["dd"][0]]
            peak = 0
            for mode, goal in GOALS.items():
                ratio = best[mode][0] / floor
                missed = ratio > goal or best[mode][1] > MEMORY_GOAL_KIB
                misses += missed
                cells += 1
                row.append("%.2fx%s" % (ratio, " !" if ratio > goal else ""))
                peak = max(peak, best[mode][1])
            row.append("%.1f%s" % (peak / 1024, " !" if peak > MEMORY_GOAL_KIB else ""))
            print("| " + " | ".join(row) + " |", flush=True)
    print("\n%d of %d cells miss the goal (filter 1.25x, --words and --check 1.5x the faster"
          " copy, 8 MiB peak)" % (misses, cells))


main()
