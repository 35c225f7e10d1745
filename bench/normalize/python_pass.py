"""The same normalization pass done with str.replace, for comparison.

Usage: python_pass.py INPUT OUTPUT RUNS ROW...
INPUT holds UTF-16LE text; each ROW is "SEARCH:REPLACEMENT" with code units
in hex joined by "+" (e.g. 0438+0306:0439). Prints the median pass time in
seconds and writes the result of the last run to OUTPUT as UTF-16LE.
"""
import statistics
import sys
import time


def decode_units(field):
    return "".join(chr(int(unit, 16)) for unit in field.split("+"))


def main():
    input_path, output_path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    rows = [tuple(decode_units(part) for part in row.split(":")) for row in sys.argv[4:]]
    with open(input_path, "rb") as f:
        text = f.read().decode("utf-16-le")
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = text
        for search, replacement in rows:
            result = result.replace(search, replacement)
        times.append(time.perf_counter() - start)
    with open(output_path, "wb") as f:
        f.write(result.encode("utf-16-le"))
    print(statistics.median(times))


main()
