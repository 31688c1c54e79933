#!/usr/bin/python3
"""Times the native launcher against the common extractors, whole process against whole process.

  compare.py BUILD_FOLDER [--payloads app,big,many] [--runs 7] [--scratch DIR] [--out DIR]
             [--memory] [--baseline OTHER_BUILD_FOLDER]

BUILD_FOLDER is a native build with -DLAUNCHER_BENCH=ON in which bench_floor and
bench_launcher_<payload> of every payload named are built (scripts/bench.sh does all of it).
Every run unpacks into a fresh folder on a tmpfs. One untimed round comes first; then each round
runs every tool once per payload, in an order that turns from round to round, so that a change in
the machine's speed falls on all tools alike. Reported are medians, the ratios of the launcher's
median to the others', the machine's load, and a bar chart of the ratios. --memory also measures
the launcher's peak heap (valgrind's massif) around the 3 MB and the 300 MB payload. --baseline
adds the launchers of another such build (an earlier version, say) to every round, as "baseline".
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
    "app": "3 MB application (40 files, 3 folders)",
    "big": "100 MB (20 files)",
    "many": "10,000 files of 1-4 KiB in 100 folders",
}
PEERS = ["unzip", "bsdtar", "7z", "python3"]
GOALS = {"first": 0.90, "second": 0.50, "floor": 1.10}
PYTHON = "/usr/bin/python3"


def commands(tool, zip_path, folder, build, baseline=None):
    """The command line of one tool unpacking `zip_path` into `folder`, and its environment."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
    if tool in ("launcher", "baseline"):
        name = os.path.basename(zip_path)[:-4]
        env["TMPDIR"] = folder + "/"
        home = build if tool == "launcher" else baseline
        return [os.path.join(home, "bench", "bench_launcher_" + name)], env
    if tool == "floor":
        return [os.path.join(build, "bench", "bench_floor"), zip_path, folder], env
    if tool == "unzip":
        return ["unzip", "-q", zip_path, "-d", folder], env
    if tool == "unzip -o":
        return ["unzip", "-o", "-q", zip_path, "-d", folder], env
    if tool == "bsdtar":
        return ["bsdtar", "-xf", zip_path, "-C", folder], env
    if tool == "7z":
        return ["7z", "x", "-y", "-bd", "-o" + folder, zip_path], env
    if tool == "python3":
        return [PYTHON, "-m", "zipfile", "-e", zip_path, folder], env
    raise ValueError(tool)


def run(argv, env):
    """Runs a command to its end with its output discarded; its wall time and its processor time
    (user and system, of the process and the children it waited for) in seconds."""
    program = argv[0] if os.path.isabs(argv[0]) else shutil.which(argv[0], path=env["PATH"])
    quiet = [(os.POSIX_SPAWN_OPEN, fd, os.devnull, os.O_WRONLY, 0) for fd in (1, 2)]
    start = time.perf_counter()
    pid = os.posix_spawn(program, argv, env, file_actions=quiet)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {' '.join(argv)} failed with status {status}")
    return elapsed, usage.ru_utime + usage.ru_stime


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def cpu_jiffies():
    """Busy, total and stolen jiffies of all processors together (stolen: taken by the host of a
    virtual machine, which slows every tool alike but not evenly over time)."""
    with open("/proc/stat") as stat:
        fields = [int(x) for x in stat.readline().split()[1:]]
    idle = fields[3] + fields[4]
    stolen = fields[7] if len(fields) > 7 else 0
    return sum(fields) - idle - stolen, sum(fields), stolen


def loadavg():
    with open("/proc/loadavg") as f:
        return [float(x) for x in f.read().split()[:3]]


class Runner:
    def __init__(self, build, baseline, payload_folder, scratch):
        self.build = build
        self.baseline = baseline
        self.payload_folder = payload_folder
        self.scratch = scratch
        self.counter = 0

    def fresh_folder(self):
        self.counter += 1
        folder = os.path.join(self.scratch, f"run{self.counter}")
        os.mkdir(folder)
        return folder

    def once(self, payload, tool, second):
        """Times one start of `tool`; a second start first fills the folder with the tool itself."""
        zip_path = os.path.join(self.payload_folder, payload + ".zip")
        folder = self.fresh_folder()
        if second:
            fill = "unzip" if tool == "unzip -o" else tool
            run(*commands(fill, zip_path, folder, self.build, self.baseline))
        elapsed, cpu = run(*commands(tool, zip_path, folder, self.build, self.baseline))
        unpacked = os.path.join(folder, "VORNIX") if tool in ("launcher", "baseline") else folder
        files = count_files(unpacked)
        shutil.rmtree(folder)
        return elapsed, cpu, files


def measure(args):
    runner = Runner(args.build, args.baseline, os.path.join(args.build, "bench", "payloads"),
                    args.scratch)
    work = [(tool, False) for tool in ["launcher"] + PEERS + ["floor"]]
    work += [("launcher", True), ("unzip -o", True)]
    if args.baseline:
        work += [("baseline", False), ("baseline", True)]
    times = {p: {f"{t}|{s}": [] for t, s in work} for p in args.payloads}
    cpu_times = {p: {f"{t}|{s}": [] for t, s in work} for p in args.payloads}
    files = {p: {} for p in args.payloads}

    for payload in args.payloads:  # the untimed round: caches warm, outputs checked
        for tool, second in work:
            _, _, count = runner.once(payload, tool, second)
            files[payload][f"{tool}|{second}"] = count
        if len(set(files[payload].values())) != 1:
            sys.exit(f"bench: the tools unpacked different file counts: {files[payload]}")

    busy0, total0, stolen0 = cpu_jiffies()
    own0 = os.times()
    load_start = loadavg()
    wall0 = time.time()
    for round_number in range(args.runs):
        for payload in args.payloads:
            shift = round_number % len(work)
            for tool, second in work[shift:] + work[:shift]:
                elapsed, cpu, _ = runner.once(payload, tool, second)
                times[payload][f"{tool}|{second}"].append(elapsed)
                cpu_times[payload][f"{tool}|{second}"].append(cpu)
        print(f"round {round_number + 1} of {args.runs} done", flush=True)
    busy1, total1, stolen1 = cpu_jiffies()
    own1 = os.times()
    load_end = loadavg()

    cores = os.cpu_count()
    used_all = (busy1 - busy0) / max(1, total1 - total0) * cores
    mine = sum(own1[:4]) - sum(own0[:4])
    used_mine = mine / (time.time() - wall0)
    load = {
        "loadavg_start": load_start,
        "loadavg_end": load_end,
        "cores": cores,
        "cores_busy": round(used_all, 2),
        "cores_busy_by_others": round(max(0.0, used_all - used_mine), 2),
        "cores_stolen": round((stolen1 - stolen0) / max(1, total1 - total0) * cores, 2),
    }
    return times, cpu_times, files, load


def summarize(times):
    out = {}
    for payload, by_tool in times.items():
        med = {key: statistics.median(values) for key, values in by_tool.items()}
        first = {t: med[f"{t}|False"] for t in PEERS}
        best = min(first, key=first.get)
        launcher = med["launcher|False"]
        out[payload] = {
            "medians_ms": {k: round(v * 1000, 2) for k, v in med.items()},
            "best_peer": best,
            "ratio_first": launcher / first[best],
            "ratio_second": med["launcher|True"] / med["unzip -o|True"],
            "ratio_floor": launcher / med["floor|False"],
        }
        if "baseline|False" in med:
            out[payload]["ratio_baseline_first"] = launcher / med["baseline|False"]
            out[payload]["ratio_baseline_second"] = med["launcher|True"] / med["baseline|True"]
            # The baseline build's own ratios, measured in the same rounds.
            out[payload]["baseline_ratio_first"] = med["baseline|False"] / first[best]
            out[payload]["baseline_ratio_second"] = med["baseline|True"] / med["unzip -o|True"]
            out[payload]["baseline_ratio_floor"] = med["baseline|False"] / med["floor|False"]
    return out


def table(summary, load, runs):
    p = [x for x in PAYLOADS if x in summary]
    ms = lambda x: f"{x:.1f}"  # noqa: E731
    rows = ["| work | launcher | best peer | ratio |", "|---|---|---|---|"]
    for x in p:
        s = summary[x]
        m = s["medians_ms"]
        rows.append(f"| first start, {PAYLOADS[x]} | {ms(m['launcher|False'])} ms | "
                    f"{s['best_peer']} {ms(m[s['best_peer'] + '|False'])} ms | "
                    f"{s['ratio_first']:.2f} |")
    join = lambda key: " / ".join(key(summary[x]) for x in p)  # noqa: E731
    rows.append(f"| second start (folder full), same {len(p)} | "
                f"{join(lambda s: ms(s['medians_ms']['launcher|True']))} ms | "
                f"`unzip -o` {join(lambda s: ms(s['medians_ms']['unzip -o|True']))} ms | "
                f"{join(lambda s: format(s['ratio_second'], '.2f'))} |")
    rows.append(f"| against the floor (raw inflate from memory + write(2)) | | floor "
                f"{join(lambda s: ms(s['medians_ms']['floor|False']))} ms | "
                f"{join(lambda s: format(s['ratio_floor'], '.2f'))} |")
    if "ratio_baseline_first" in summary[p[0]]:
        rows.append(f"| against the baseline build, first / second start | | | "
                    f"{join(lambda s: format(s['ratio_baseline_first'], '.2f'))} ; "
                    f"{join(lambda s: format(s['ratio_baseline_second'], '.2f'))} |")
        rows.append(f"| the baseline build's ratios: first start / best peer ; second start / "
                    f"`unzip -o` ; first start / floor | | | "
                    f"{join(lambda s: format(s['baseline_ratio_first'], '.2f'))} ; "
                    f"{join(lambda s: format(s['baseline_ratio_second'], '.2f'))} ; "
                    f"{join(lambda s: format(s['baseline_ratio_floor'], '.2f'))} |")
    rows.append("")
    rows.append("Medians of %d interleaved runs (ms), every tool:" % runs)
    rows.append("")
    keys = list(summary[p[0]]["medians_ms"])
    rows.append("| tool | " + " | ".join(p) + " |")
    rows.append("|---|" + "---|" * len(p))
    for k in keys:
        tool, second = k.split("|")
        label = tool + (" (second start)" if second == "True" else "")
        rows.append(f"| {label} | " + " | ".join(ms(summary[x]["medians_ms"][k]) for x in p) + " |")
    if load is None:
        return "\n".join(rows)
    rows.append("")
    rows.append(f"Load: {load['cores']} cores; load average {load['loadavg_start']} at the start, "
                f"{load['loadavg_end']} at the end; {load['cores_busy']} cores busy on average "
                f"during the timed rounds, {load['cores_busy_by_others']} of them by other "
                f"processes than the benchmark's; {load['cores_stolen']} cores taken by the "
                f"virtual machine's host.")
    return "\n".join(rows)


def chart(summary, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    payloads = [x for x in PAYLOADS if x in summary]
    measures = [("first", "first start /\nbest peer"), ("second", "second start /\nunzip -o"),
                ("floor", "first start /\nfloor")]
    width = 0.8 / len(payloads)
    fig, ax = plt.subplots(figsize=(8, 4.5))
    for i, payload in enumerate(payloads):
        values = [summary[payload]["ratio_" + m] for m, _ in measures]
        xs = [g + (i - (len(payloads) - 1) / 2) * width for g in range(len(measures))]
        bars = ax.bar(xs, values, width, label=PAYLOADS[payload])
        ax.bar_label(bars, fmt="%.2f", fontsize=8)
    for g, (m, _) in enumerate(measures):
        ax.hlines(GOALS[m], g - 0.45, g + 0.45, colors="black", linestyles="dashed")
    ax.set_xticks(range(len(measures)), [label for _, label in measures])
    ax.set_ylabel("launcher time / other time (lower is better)")
    ax.set_title("Launcher against the common extractors (dashed: goal)")
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def peak_heap(build, payload, scratch):
    """The launcher's peak heap in bytes (valgrind's massif: useful bytes plus overhead)."""
    folder = tempfile.mkdtemp(dir=scratch)
    report = os.path.join(folder, "massif.out")
    launcher = os.path.join(build, "bench", "bench_launcher_" + payload)
    subprocess.run(["valgrind", "--tool=massif", "--massif-out-file=" + report, launcher],
                   env={"TMPDIR": folder + "/", "PATH": os.environ.get("PATH", "")},
                   check=True, capture_output=True)
    peak = 0
    with open(report) as f:
        heap = 0
        for line in f:
            if line.startswith("mem_heap_B="):
                heap = int(line.split("=")[1])
            elif line.startswith("mem_heap_extra_B="):
                peak = max(peak, heap + int(line.split("=")[1]))
    shutil.rmtree(folder)
    return peak


def tmpfs_folder(requested):
    folder = requested or "/dev/shm"
    kind = subprocess.run(["stat", "-f", "-c", "%T", folder], capture_output=True, text=True)
    if kind.stdout.strip() != "tmpfs":
        sys.exit(f"bench: {folder} is not a tmpfs (give --scratch)")
    return tempfile.mkdtemp(prefix="launcher-bench-", dir=folder)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--payloads", default="app,big,many")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--scratch", help="a folder on a tmpfs (default /dev/shm)")
    parser.add_argument("--out", help="where the table, the figures and the chart go")
    parser.add_argument("--memory", action="store_true")
    parser.add_argument("--baseline", help="another build folder whose launchers run beside")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.baseline = args.baseline and os.path.abspath(args.baseline)
    args.payloads = [p for p in args.payloads.split(",") if p]
    args.out = os.path.abspath(args.out or os.path.join(args.build, "bench", "results"))
    os.makedirs(args.out, exist_ok=True)
    for peer in ["unzip", "bsdtar", "7z"]:
        if shutil.which(peer) is None:
            sys.exit(f"bench: {peer} is missing (scripts/install-deps.sh installs it)")

    args.scratch = tmpfs_folder(args.scratch)
    try:
        times, cpu_times, files, load = measure(args)
        summary = summarize(times)
        cpu_summary = summarize(cpu_times)
        result = {"runs": args.runs, "times_s": times, "cpu_times_s": cpu_times, "files": files,
                  "load": load, "summary": summary, "cpu_summary": cpu_summary}
        if args.memory:
            heap = {p: peak_heap(args.build, p, args.scratch) for p in ["app", "huge"]}
            result["peak_heap_bytes"] = heap
    finally:
        shutil.rmtree(args.scratch, ignore_errors=True)

    text = table(summary, load, args.runs)
    text += ("\n\nThe same by processor time (user + system of each process, which other "
             "processes' load disturbs less than wall time):\n\n" + table(cpu_summary, None, args.runs))
    if args.memory:
        text += (f"\n\nPeak heap of the launcher (valgrind massif): 3 MB payload "
                 f"{heap['app'] / 1024:.0f} KiB, 300 MB payload {heap['huge'] / 1024:.0f} KiB, "
                 f"growth {(heap['huge'] - heap['app']) / 1024:.0f} KiB.")
    print(text)
    with open(os.path.join(args.out, "table.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump(result, f, indent=1)
    chart(summary, os.path.join(args.out, "ratios.png"))
    print(f"\ntable, figures and chart (ratios.png) in {args.out}")


if __name__ == "__main__":
    main()
