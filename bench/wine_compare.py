#!/usr/bin/python3
"""Times the Windows launcher under Wine against the native one (bench/wine_bench.sh runs it).

  wine_compare.py WORK [--runs 7] [--scratch DIR] [--tags new,baseline]

WORK is the folder that bench/wine_bench.sh filled: for each tag, WORK/<tag>/native-<payload> and
WORK/<tag>/win32-<payload>.exe (the launcher around the payloads app, big, many and tiny), WORK/child
and WORK/noop.exe (a native and a Windows program that do nothing) and WORK/wine_timer.exe. The
Wine environment (WINEPREFIX, DISPLAY) must be set up. Every launcher run is a first start into a
fresh folder on a tmpfs. Native programs are timed from here, Windows programs from inside Wine by
wine_timer.exe, so that neither includes the start of Wine itself. One untimed round comes first
(it also checks what the launchers unpacked); each round then runs every program once, in an
order that turns from round to round. Prints medians and ratios and saves table.md and
results.json in WORK/results.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PAYLOADS = {
    "app": ("3 MB application", 40),
    "big": ("100 MB", 20),
    "many": ("10,000 files of 1-4 KiB", 10001),
    "tiny": ("zandro.exe only", 1),
}


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run_native(argv, temp):
    """Wall time in seconds of one native program, with TMPDIR set to `temp`."""
    env = {"PATH": "/usr/bin:/bin", "TMPDIR": temp + "/"}
    quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=quiet)
    _, status, _ = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"wine bench: {argv[0]} failed with status {status}")
    return elapsed


def run_wine(timer, folder, programs):
    """Wall times in seconds of Windows programs, each started once by the timer inside Wine."""
    done = subprocess.run(["wine", timer, windows_path(folder)] + [windows_path(p) for p in programs],
                          capture_output=True, text=True, errors="replace")
    if done.returncode != 0:
        sys.exit(f"wine bench: the timer failed: {done.stderr.strip()}")
    times = [float(line.split()[0]) / 1000 for line in done.stdout.splitlines() if line.strip()]
    if len(times) != len(programs):
        sys.exit(f"wine bench: the timer printed {done.stdout!r}")
    return times


def unpacked_files(temp):
    """Files below the VORNIX folder in a temporary folder."""
    return sum(len(files) for _, _, files in os.walk(os.path.join(temp, "VORNIX")))


def measure(args):
    work = args.work
    native = [(f"{tag} native {p}", os.path.join(work, tag, "native-" + p), p)
              for tag in args.tags for p in PAYLOADS]
    native.append(("native nothing", os.path.join(work, "child"), None))
    wine = [(f"{tag} Wine {p}", os.path.join(work, tag, f"win32-{p}.exe"), p)
            for tag in args.tags for p in PAYLOADS]
    wine.append(("Wine nothing", os.path.join(work, "noop.exe"), None))
    timer = windows_path(os.path.join(work, "wine_timer.exe"))
    times = {name: [] for name, _, _ in native + wine}

    def one_round(number, check):
        shift = number % len(native)
        for name, program, payload in native[shift:] + native[:shift]:
            folder = tempfile.mkdtemp(dir=args.scratch)
            elapsed = run_native([program], folder)
            if check and payload and unpacked_files(folder) != PAYLOADS[payload][1]:
                sys.exit(f"wine bench: {name} did not unpack {PAYLOADS[payload][1]} files")
            if not check:
                times[name].append(elapsed)
            shutil.rmtree(folder)
        shift = number % len(wine)
        order = wine[shift:] + wine[:shift]
        folder = tempfile.mkdtemp(dir=args.scratch)
        for (name, _, payload), elapsed in zip(order, run_wine(timer, folder, [p for _, p, _ in order])):
            if not check:
                times[name].append(elapsed)
        if check:
            # The timer's run folders, in the order of the programs.
            runs = sorted(os.listdir(folder), key=lambda run: int(run.rsplit("-", 1)[1]))
            counts = [unpacked_files(os.path.join(folder, run)) for run in runs]
            expected = [PAYLOADS[p][1] if p else 0 for _, _, p in order]
            if counts != expected:
                sys.exit(f"wine bench: the Windows launchers unpacked {counts}, not {expected}")
        # Files the launchers unpacked are read-only; their folders are not.
        shutil.rmtree(folder)

    one_round(0, True)
    for number in range(args.runs):
        one_round(number, False)
        print(f"round {number + 1} of {args.runs} done", flush=True)
    return times


def table(times, tags, runs):
    med = {name: statistics.median(values) * 1000 for name, values in times.items()}
    ms = lambda x: f"{x:.1f} ms"  # noqa: E731
    rows = ["| build | work | native | Wine | Wine / native |", "|---|---|---|---|---|"]
    for tag in tags:
        for p in ("app", "big", "many"):
            n, w = med[f"{tag} native {p}"], med[f"{tag} Wine {p}"]
            rows.append(f"| {tag} | first start, {PAYLOADS[p][0]} | {ms(n)} | {ms(w)} | {w / n:.2f} |")
        n, w = med[f"{tag} native tiny"], med[f"{tag} Wine tiny"]
        nothing_n, nothing_w = med["native nothing"], med["Wine nothing"]
        rows.append(f"| {tag} | fixed cost: launcher around zandro.exe only, less a program that "
                    f"does nothing | {ms(n - nothing_n)} ({ms(n)} - {ms(nothing_n)}) | "
                    f"{ms(w - nothing_w)} ({ms(w)} - {ms(nothing_w)}) | "
                    f"{(w - nothing_w) / max(n - nothing_n, 1e-9):.2f} |")
    if len(tags) == 2:
        new, old = tags
        rows += ["", f"| work | {new} / {old}, native | {new} / {old}, Wine |", "|---|---|---|"]
        for p in PAYLOADS:
            rows.append(f"| {PAYLOADS[p][0]} | {med[f'{new} native {p}'] / med[f'{old} native {p}']:.2f}"
                        f" | {med[f'{new} Wine {p}'] / med[f'{old} Wine {p}']:.2f} |")
    rows += ["", f"Medians of {runs} interleaved runs."]
    return "\n".join(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("work")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--scratch", help="a folder on a tmpfs (default /dev/shm)")
    parser.add_argument("--tags", default="new")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    args.tags = args.tags.split(",")
    args.scratch = tempfile.mkdtemp(prefix="launcher-wine-bench-", dir=args.scratch or "/dev/shm")
    try:
        times = measure(args)
    finally:
        shutil.rmtree(args.scratch, ignore_errors=True)
    text = table(times, args.tags, args.runs)
    print(text)
    out = os.path.join(args.work, "results")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump({"runs": args.runs, "times_s": times}, f, indent=1)
    print(f"\ntable and figures in {out}")


if __name__ == "__main__":
    main()
