"""The launch benchmark: what starting a program through QuendRun costs.

Under 64-bit Wine, a Windows-side driver (BenchDriver.cpp) makes eight
launches, alternated in rounds after a warm-up round (the orders of the rounds
a balanced Latin square). It times five from CreateProcessA until the bench
target says it has started:

  direct        the target itself, the floor for one process
  bare null     a launcher that only starts the target, the floor for any launcher
  shell null    the same after FindExecutableA, the floor for one that asks the shell
  QuendRun, 3   QuendRun with a settings file of 3 "Wild Card" keys
  QuendRun, 50  QuendRun with 50 keys, the argument matching the last one

Every one of them hands the target the same command-line tail, which the
target checks. The target and the null launchers are built plain (-Os, no
stack guard), as a program that QuendRun starts would be; QuendRun as it ships.
Three more start nothing, given no argument, and are timed until the
launcher's process has ended: the launcher's fixed cost and the guard's share.

  bare null, no argument   the least process of a launcher's kind
  unguarded, no argument   QuendRun's sources and flags without the stack guard
  QuendRun, no argument    QuendRun as it ships

Writes results.md (medians, 95th percentiles, ratios, footprint), launch.svg
(the distributions, drawn by matplotlib) and samples.txt (every launch) into the results folder,
build/bench/results unless told; --save writes them into bench/results, the
figures kept in the repository. Run through bench/run, which installs and
builds what it needs first.
"""
import argparse
import os
import pathlib
import random
import shutil
import statistics
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
SAVED = ROOT / "bench" / "results"   # the results kept in the repository
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

# What QuendRun reads: the target by its full path, short options, and an
# argument whose ending only the table's last key matches.
OPTIONS = "/q:"
ARGUMENT = "run.x50"
TAIL = "/q:run.y50"   # what every row must give the target behind its path
KEY_LIST_ROOM = 258   # the key-list read's 260 bytes less the closing NULs

DIRECT, BARE, SHELL, Q3, Q50 = "direct", "bare-null", "shell-null", "quendrun-3", "quendrun-50"
BARE_EXIT, UNGUARDED, Q_EXIT = "bare-null-exit", "unguarded-exit", "quendrun-exit"
LABELS = {
    DIRECT: "target started directly",
    BARE: "bare null launcher",
    SHELL: "shell null launcher (FindExecutableA)",
    Q3: "QuendRun, 3 keys",
    Q50: "QuendRun, 50 keys, match on the last",
    BARE_EXIT: "bare null launcher, no argument",
    UNGUARDED: "QuendRun without the stack guard, no argument",
    Q_EXIT: "QuendRun, no argument",
}
TO_TARGET = [DIRECT, BARE, SHELL, Q3, Q50]   # timed until the target runs
TO_EXIT = [BARE_EXIT, UNGUARDED, Q_EXIT]      # start nothing; timed until they end
ORDER = TO_TARGET + TO_EXIT
# Each table's rows and the references of its ratio columns.
TABLES = [(TO_TARGET, (SHELL, BARE, DIRECT)), (TO_EXIT, (UNGUARDED, BARE_EXIT))]
COLUMNS = {SHELL: "shell null", BARE: "bare null", DIRECT: "direct", UNGUARDED: "unguarded",
           BARE_EXIT: "bare null, no argument"}
# The ratios of medians shown: each row's references.
RATIOS = {Q3: (SHELL, BARE, DIRECT), Q50: (SHELL, BARE, DIRECT), UNGUARDED: (BARE_EXIT,),
          Q_EXIT: (UNGUARDED, BARE_EXIT)}
# The most that a row may cost over its reference, in the median: QuendRun over
# the shell null launcher. The guard's rows are information only: 200 rounds
# under Wine do not resolve a difference of two hundredths, and the guard's
# seed costs no DLL and no call beyond KERNEL32's.
TARGETS = {(Q3, SHELL): 1.03, (Q50, SHELL): 1.05}
REFERENCE_NAMES = {SHELL: "the shell null launcher"}


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def wild_card_keys(count):
    """The last `count` of the names .x01 to .x50, each with its .y value."""
    return [(".x%02d" % n, ".y%02d" % n) for n in range(51 - count, 51)]


def settings_text(target, count):
    lines = ["[Executable]", "FileName=" + target, "Options=" + OPTIONS, "", "[Wild Card]"]
    lines += ["%s=%s" % key for key in wild_card_keys(count)]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def mapped(argument, keys):
    """The argument after the first key that ends it, as the launcher maps it."""
    for name, value in keys:
        if len(name) < len(argument) and argument.endswith(name):
            return argument[:-len(name)] + value
    return argument


def percentile(values, fraction):
    """Linear interpolation between the closest ranks."""
    ordered = sorted(values)
    at = (len(ordered) - 1) * fraction
    low = int(at)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (at - low)


def summarize(samples):
    """samples: {case: {round: ms}} -> {case: (median, p95)} and the ratios
    {(case, reference): ratio of medians} of RATIOS."""
    figures = {case: (statistics.median(times.values()), percentile(list(times.values()), 0.95))
               for case, times in samples.items()}
    ratios = {(case, reference): figures[case][0] / figures[reference][0]
              for case, references in RATIOS.items() for reference in references}
    return figures, ratios


def fixed_costs(figures):
    """From the rows that start nothing, in milliseconds of the medians: what
    QuendRun's own start-up and exit cost over the least launcher's, and the
    guard's share of it."""
    quendrun = figures[Q_EXIT][0]
    return quendrun - figures[BARE_EXIT][0], quendrun - figures[UNGUARDED][0]


def paired_ratio(samples, case, reference):
    """The median of the round-by-round ratios: drift within a run cancels."""
    rounds = samples[case].keys() & samples[reference].keys()
    return statistics.median(samples[case][r] / samples[reference][r] for r in rounds)


def ratio_interval(samples, case, reference, draws=2000, seed=6):
    """A 95% interval of the ratio of medians, by resampling whole rounds, so
    that a launch keeps its partners from the same round."""
    rounds = sorted(samples[case].keys() & samples[reference].keys())
    pick = random.Random(seed)
    ratios = []
    for _ in range(draws):
        chosen = [pick.choice(rounds) for _ in rounds]
        ratios.append(statistics.median(samples[case][r] for r in chosen) /
                      statistics.median(samples[reference][r] for r in chosen))
    return percentile(ratios, 0.025), percentile(ratios, 0.975)


def read_samples(path):
    """The driver's samples file -> ({case: {round: ms}}, launches made again)."""
    samples, retried = {}, 0
    for line in path.read_text().split("\n"):
        if line.startswith("# retried "):
            retried += 1
        elif line.strip():
            case, round_number, milliseconds = line.split()
            samples.setdefault(case, {})[int(round_number)] = float(milliseconds)
    return samples, retried


# ---- footprint ----------------------------------------------------------

def imported_dlls(path):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(path)], check=True,
                          capture_output=True, text=True).stdout
    return [line.split(":", 1)[1].strip() for line in dump.splitlines() if "DLL Name:" in line]


def footprint(paths):
    return [(label, path.stat().st_size, imported_dlls(path)) for label, path in paths]


# ---- report -------------------------------------------------------------

def table(figures, ratios, cases, references):
    rows = ["| launch | median (ms) | 95th percentile (ms) | %s |"
            % " | ".join("/ " + COLUMNS[r] for r in references),
            "|---|---:|---:|" + "---:|" * len(references)]
    for case in cases:
        median, p95 = figures[case]
        cells = ["%.3f" % ratios[case, r] if (case, r) in ratios else "" for r in references]
        rows.append("| %s | %.1f | %.1f | %s |" % (LABELS[case], median, p95, " | ".join(cells)))
    return "\n".join(rows)


def verdicts(samples, ratios):
    lines = []
    for (case, reference), limit in TARGETS.items():
        ratio = ratios[case, reference]
        low, high = ratio_interval(samples, case, reference)
        lines.append("- %s: %.3f of %s in the median (95%% interval %.3f to %.3f; target at most "
                     "%.2f: %s); median of the round-by-round ratios %.3f"
                     % (LABELS[case], ratio, REFERENCE_NAMES[reference], low, high, limit,
                        "met" if ratio <= limit else "NOT met",
                        paired_ratio(samples, case, reference)))
    return lines


def report(samples, figures, ratios, sizes, rounds, wine_version, retried=0):
    launcher, guard = fixed_costs(figures)
    lines = ["# Launch benchmark", "",
             "%d rounds after a warm-up round, each making the %d launches once, in orders "
             "that put each launch in each place and after each other one equally often; "
             "64-bit builds under %s and Xvfb; the target and the null launchers built with -Os "
             "and no stack guard, QuendRun as it ships. Launches that Wine failed to create and "
             "that were made again: %d." % (rounds, len(ORDER), wine_version, retried), "",
             "From CreateProcessA in the driver until the target has signalled that it started:",
             "", table(figures, ratios, *TABLES[0]), "",
             "Given no argument, so starting nothing, from CreateProcessA until the launcher's "
             "process has ended:", "", table(figures, ratios, *TABLES[1]), "",
             "QuendRun's own start-up and exit cost %.1f ms over the bare null launcher's; "
             "the stack guard's share, against the build without it, is %.1f ms."
             % (launcher, guard), "", "Targets:", ""]
    lines += verdicts(samples, ratios)
    lines += ["", "Footprint:", "", "| executable | bytes | imported DLLs |", "|---|---:|---|"]
    lines += ["| %s | %d | %s |" % (label, size, ", ".join(dlls)) for label, size, dlls in sizes]
    lines += ["", "The distributions: [launch.svg](launch.svg); every launch: samples.txt.", ""]
    return "\n".join(lines)


# ---- plot ---------------------------------------------------------------

def svg_plot(samples, figures):
    """Per row: every launch as a dot, the middle half as a box, the median as
    a red bar, whiskers to the 5th and 95th percentiles. The axis ends a little
    past the largest 95th percentile; slower launches sit at its end, counted.
    The same samples give the same file: a fixed hash salt for the SVG's ids,
    and no date."""
    import io
    import matplotlib
    matplotlib.use("svg")
    from matplotlib import pyplot
    matplotlib.rcParams["svg.hashsalt"] = "quendrun-bench"

    limit = max(p95 for _, p95 in figures.values()) * 1.25
    rows = list(reversed(ORDER))  # the first row on top
    figure, axes = pyplot.subplots(figsize=(9, 0.7 * len(rows) + 1.2))
    for place, case in enumerate(rows, 1):
        times = [ms for _, ms in sorted(samples[case].items())]
        jitter = [place + ((at * 37) % 23 - 11) * 0.013 for at in range(len(times))]
        axes.scatter([min(ms, limit) for ms in times], jitter, s=4, color="#4477aa", alpha=0.45, linewidths=0)
        beyond = sum(1 for ms in times if ms > limit)
        if beyond:
            axes.annotate("%d beyond" % beyond, (limit, place + 0.3), ha="right", fontsize=8)
    axes.boxplot([list(samples[case].values()) for case in rows], vert=False, whis=(5, 95), showfliers=False,
                 widths=0.35, medianprops={"color": "#cc3311", "linewidth": 2.5})
    axes.set_yticks(range(1, len(rows) + 1), [LABELS[case] for case in rows])
    axes.set_xlim(0, limit)
    axes.grid(axis="x", color="#dddddd")
    axes.set_axisbelow(True)
    axes.set_title("Launch time under Wine (ms), from CreateProcessA\nuntil the target runs; "
                   "with no argument, until the launcher ends", fontsize=10)
    axes.set_xlabel("box: middle half; red: median; whiskers: 5th to 95th percentile; dots: every launch",
                    fontsize=8)
    figure.tight_layout()
    out = io.StringIO()
    figure.savefig(out, format="svg", metadata={"Date": None})
    pyplot.close(figure)
    return out.getvalue()


# ---- running ------------------------------------------------------------

def build(tail):
    generator = [] if (BUILD / "CMakeCache.txt").exists() else ["-G", "Ninja"]
    subprocess.run(["cmake", "-S", str(ROOT / "bench"), "-B", str(BUILD)] + generator +
                   ["--toolchain", str(ROOT / "cmake" / "mingw-x86_64.cmake"),
                    "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DBENCH_TARGET_TAIL=" + tail],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD)], check=True, stdout=subprocess.DEVNULL)
    # The 32-bit product, for its footprint only.
    subprocess.run(["cmake", "--preset", "product"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "product"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)


def request_line(case, program, line=None):
    """The driver's line for one launch: what ends its time, and its command
    line, the launcher's path alone for a row that starts nothing, and
    otherwise followed by QuendRun's argument, so that all read the same length."""
    if line is None:
        line = windows_path(program) + ("" if case in TO_EXIT else " " + ARGUMENT)
    return "%s\t%s\t%s\t%s\n" % (case, "exit" if case in TO_EXIT else "target",
                                 windows_path(program), line)


def prepare(work, build=BUILD):
    """The QuendRun folders and the driver's request; returns the request path."""
    target = build / "BenchTarget.exe"
    shutil.rmtree(work, ignore_errors=True)
    launches = {DIRECT: (target, windows_path(target) + " " + TAIL),
                BARE: (build / "BareLauncher.exe",), SHELL: (build / "ShellLauncher.exe",),
                BARE_EXIT: (build / "BareLauncher.exe",)}
    # Each QuendRun in a folder of its own; those given no argument read no settings.
    for case, product, count in ((Q3, "product", 3), (Q50, "product", 50),
                                 (UNGUARDED, "unguarded", None), (Q_EXIT, "product", None)):
        folder = work / case
        folder.mkdir(parents=True)
        shutil.copy(build / product / "QuendRun.exe", folder)
        if count is not None:
            (folder / "QuendRun.ini").write_bytes(settings_text(windows_path(target), count))
        launches[case] = (folder / "QuendRun.exe",)
    request = work / "request.txt"
    request.write_text("".join(request_line(case, *launches[case]) for case in ORDER))
    return request


def wine(argv, environment, log, timeout, xvfb=True):
    command = (["xvfb-run", "-a"] if xvfb else []) + [WINE] + argv
    with open(log, "ab") as output:
        return subprocess.run(command, env=environment, stdin=subprocess.DEVNULL, stdout=output,
                              stderr=output, timeout=timeout).returncode


def run(rounds, results):
    build(TAIL)
    work = BUILD / "run"
    request = prepare(work)
    log = work / "wine.log"
    prefix = BUILD / "wineprefix"
    environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    if not (prefix / "system.reg").exists():
        print("creating the Wine prefix %s" % prefix, flush=True)
        wine(["wineboot", "-i"], environment, log, 600, xvfb=False)
        subprocess.run([WINESERVER, "-w"], env=environment)

    samples_path = work / "samples.txt"
    print("timing %d rounds of %d launches under Wine" % (rounds, len(ORDER)), flush=True)
    code = wine([str(BUILD / "BenchDriver.exe"), windows_path(request), windows_path(samples_path),
                 str(rounds)], environment, log, 120 + 10 * rounds)
    subprocess.run([WINESERVER, "-k"], env=environment, stderr=subprocess.DEVNULL)
    if code != 0 or not samples_path.exists():
        sys.stderr.write(log.read_text(errors="replace")[-2000:])
        sys.exit("the driver failed (exit code %d); its log: %s" % (code, log))

    samples, retried = read_samples(samples_path)
    figures, ratios = summarize(samples)
    sizes = footprint([("QuendRun.exe, the 32-bit product", ROOT / "build" / "product" / "QuendRun.exe"),
                       ("QuendRun.exe, the 64-bit build measured here", BUILD / "product" / "QuendRun.exe"),
                       ("QuendRun.exe without the stack guard, 64-bit", BUILD / "unguarded" / "QuendRun.exe"),
                       ("bare null launcher, 64-bit", BUILD / "BareLauncher.exe"),
                       ("shell null launcher, 64-bit", BUILD / "ShellLauncher.exe")])
    wine_version = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    text = report(samples, figures, ratios, sizes, rounds, wine_version, retried)
    results.mkdir(parents=True, exist_ok=True)
    (results / "results.md").write_text(text)
    (results / "launch.svg").write_text(svg_plot(samples, figures))
    shutil.copy(samples_path, results / "samples.txt")
    print(text)
    print("written: %s, %s" % (results / "results.md", results / "launch.svg"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("--rounds", type=int, default=200, help="timed rounds (default 200)")
    parser.add_argument("--results", type=pathlib.Path, default=BUILD / "results",
                        help="folder for results.md, launch.svg and samples.txt (default build/bench/results)")
    parser.add_argument("--save", action="store_true",
                        help="write the results into bench/results, the ones kept in the repository")
    args = parser.parse_args()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    run(args.rounds, (SAVED if args.save else args.results).resolve())


if __name__ == "__main__":
    main()
