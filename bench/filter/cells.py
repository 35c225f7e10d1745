#!/usr/bin/env python3
"""cells.py CLI ROUNDS FILE...: glyphmend-cli beside cat and dd bs=64k.

Each FILE is named ENCODING-DENSITY-MIB.txt. For each, four ways to move
the bytes (file to file, to /dev/null, to a pipe, pipe to pipe), each run
by cat, dd bs=64k, and glyphmend-cli plain, with --words and with --check,
ROUNDS times in turn so that all see the same machine load; the best run of
each counts. A cell gives a mode's wall time as a ratio to the faster copy
(marked ! above its goal) and, after the slash, the same ratio of the
program's own processor time, which other work on a shared machine
disturbs far less. The last column is the modes' highest peak memory
(marked ! above 8 MiB). After the table: each mode's range of ratios for
each text, and the load average at the start and the end, since the
machine may be shared.
"""
import os
import subprocess
import sys
import time

GOALS = {"filter": 1.25, "--words": 1.5, "--check": 1.5}
MEMORY_GOAL_KIB = 8 * 1024
WAYS = ["file -> file", "file -> /dev/null", "file -> pipe", "pipe -> pipe"]


def tool_commands(cli, memory):
    # A small program starts each tool and reports its peak: a child forked
    # from this interpreter would count the interpreter's memory as its own.
    timed = ["/usr/bin/time", "-f", "%M", "-o", memory]
    return {
        "cat": timed + ["cat"],
        "dd": timed + ["dd", "bs=64k", "status=none"],
        "filter": timed + [cli],
        "--words": timed + [cli, "--words"],
        "--check": timed + [cli, "--check"],
    }


def with_file(name, argv, file):
    return argv + ["if=" + file] if name == "dd" else argv + [file]



def wait(process):
    """The processor seconds of the process and those it waited for."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime


def run_once(way, name, argv, file, out, memory):
    """Wall seconds of the whole way, and the tool's processor time and peak."""
    if os.path.exists(out):
        os.remove(out)
    start = time.perf_counter()
    feeder = drain = None
    if way == "file -> file":
        with open(out, "wb") as target:
            tool = subprocess.Popen(with_file(name, argv, file), stdout=target)
    elif way == "file -> /dev/null":
        tool = subprocess.Popen(with_file(name, argv, file), stdout=subprocess.DEVNULL)
    elif way == "file -> pipe":
        tool = subprocess.Popen(with_file(name, argv, file), stdout=subprocess.PIPE)
        drain = subprocess.Popen(["cat"], stdin=tool.stdout, stdout=subprocess.DEVNULL)
        tool.stdout.close()
    else:
        feeder = subprocess.Popen(["cat", file], stdout=subprocess.PIPE)
        tool = subprocess.Popen(argv, stdin=feeder.stdout, stdout=subprocess.PIPE)
        feeder.stdout.close()
        drain = subprocess.Popen(["cat"], stdin=tool.stdout, stdout=subprocess.DEVNULL)
        tool.stdout.close()
    cpu = wait(tool)
    for other in (feeder, drain):
        if other:
            wait(other)
    elapsed = time.perf_counter() - start
    with open(memory) as f:
        kib = int(f.read().split()[-1])
    return elapsed, cpu, kib


def measure(way, file, cli, rounds, out):
    memory = out + ".memory"
    commands = tool_commands(cli, memory)
    best = {name: [float("inf"), float("inf"), 0] for name in commands}
    for _ in range(rounds):
        for name, argv in commands.items():
            wall, cpu, kib = run_once(way, name, argv, file, out, memory)
            entry = best[name]
            if wall < entry[0]:
                entry[0], entry[2] = wall, kib
            entry[1] = min(entry[1], cpu)
    return best


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def print_ranges(ratios):
    """Each mode's lowest and highest ratio, wall and processor time, by text."""
    print("\n| mode | text | wall ratio | processor-time ratio |")
    print("|---|---|---|---|")
    for (mode, text), pairs in sorted(ratios.items(), key=lambda item: list(GOALS).index(item[0][0])):
        walls, cpus = [p[0] for p in pairs], [p[1] for p in pairs]
        print("| %s | %s | %.2f-%.2fx | %.2f-%.2fx |"
              % (mode, text, min(walls), max(walls), min(cpus), max(cpus)))


def main():
    cli, rounds, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    print("load average at the start: %s" % load())
    # Named for this process, so that two runs side by side keep apart.
    out = os.path.join(os.path.dirname(os.path.abspath(files[0])), "out-%d.txt" % os.getpid())
    print("| text | input -> output | cat | dd bs=64k | filter | --words | --check | peak MiB |")
    print("|---|---|---|---|---|---|---|---|")
    misses = cells = 0
    ratios = {}
    for file in files:
        encoding, density, _ = os.path.basename(file)[:-len(".txt")].rsplit("-", 2)
        for way in WAYS:
            best = measure(way, file, cli, rounds, out)
            floor = min(best["cat"][0], best["dd"][0])
            cpu_floor = max(min(best["cat"][1], best["dd"][1]), 1e-3)
            row = ["%s %s %%" % (encoding, density), way,
                   "%.3f s" % best["cat"][0], "%.3f s" % best["dd"][0]]
            peak = 0
            for mode, goal in GOALS.items():
                ratio = best[mode][0] / floor
                missed = ratio > goal or best[mode][2] > MEMORY_GOAL_KIB
                misses += missed
                cells += 1
                cpu_ratio = best[mode][1] / cpu_floor
                row.append("%.2fx%s / %.2fx" % (ratio, " !" if ratio > goal else "", cpu_ratio))
                ratios.setdefault((mode, row[0]), []).append((ratio, cpu_ratio))
                peak = max(peak, best[mode][2])
            row.append("%.1f%s" % (peak / 1024, " !" if peak > MEMORY_GOAL_KIB else ""))
            print("| " + " | ".join(row) + " |", flush=True)
    for leftover in (out, out + ".memory"):
        if os.path.exists(leftover):
            os.remove(leftover)
    print_ranges(ratios)
    print("\n%d of %d cells miss the goal (filter 1.25x, --words and --check 1.5x the faster"
          " copy's wall time, 8 MiB peak); load average at the end: %s" % (misses, cells, load()))


main()
