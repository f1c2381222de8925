"""Import time of both modules over `import asyncio, logging`, side by side in one run.

    .venv/bin/python bench/bench_import.py [--runs N]

Each run is a fresh interpreter that times, with perf_counter, first `import asyncio,
logging` (what any calling script has already paid) and then `import
ziveviver.vexocontrole` (which imports ziveviver.vexofuncoes). Medians over the runs, the
ratio (both imports) / (asyncio and logging alone), and, from `-X importtime` in a last
run, where the modules' own share goes.
"""
import argparse
import re
import statistics
import subprocess
import sys

CHILD = """
import time
t0 = time.perf_counter()
import asyncio, logging
t1 = time.perf_counter()
import ziveviver.vexocontrole
t2 = time.perf_counter()
print(t1 - t0, t2 - t1)
"""


def one_run():
    out = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, check=True)
    base, ours = map(float, out.stdout.split())
    return base, ours


def breakdown():
    """(self microseconds, module) of what importing our modules adds, largest first."""
    code = "import asyncio, logging; import ziveviver.vexocontrole"
    err = subprocess.run([sys.executable, "-X", "importtime", "-c", code], capture_output=True,
                         text=True, check=True).stderr
    rows = []
    started = False
    for line in err.splitlines():
        m = re.match(r"import time:\s+(\d+) \|\s+(\d+) \|(\s*)(\S+)", line)
        if not m:
            continue
        self_us, name = int(m.group(1)), m.group(4)
        # entries are printed when each import ends; ours follow the last top-level
        # entry of `import asyncio, logging`
        if name in ("asyncio", "logging") and not m.group(3).strip(" ") and len(m.group(3)) == 1:
            started = True
            rows = []
            continue
        if started:
            rows.append((self_us, name))
    return sorted(rows, reverse=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=31)
    args = ap.parse_args()
    one_run()  # warm the file cache
    runs = [one_run() for _ in range(args.runs)]
    base = statistics.median(r[0] for r in runs)
    ours = statistics.median(r[1] for r in runs)
    print(f"Python {sys.version.split()[0]}, {args.runs} fresh interpreters, medians:")
    print(f"  import asyncio, logging          {base * 1e3:7.2f} ms")
    print(f"  then import ziveviver.vexocontrole {ours * 1e3:5.2f} ms  (both modules)")
    print(f"  ratio (all) / (asyncio, logging) {(base + ours) / base:7.3f}")
    rows = breakdown()
    total = sum(us for us, _ in rows)
    print(f"  where the modules' share goes (-X importtime, self time, one run; total {total / 1e3:.1f} ms):")
    for us, name in rows[:8]:
        print(f"    {us / 1e3:6.2f} ms  {name}")


if __name__ == "__main__":
    main()
