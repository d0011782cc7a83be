#!/usr/bin/env python3
"""Whole-job benchmark of setup-pack against tar and cp on this machine.

Makes three package trees deterministically, each filling an archive of about 18,000,000 bytes
(the installer's archive capacity):

  one_file      one file
  2000_files    2,000 files of about 8.7 KB in 50 folders
  20000_files   20,000 files of about 620 bytes in 500 folders (the 272-byte entry headers take
                5.6 MB of the 18,000,000, so the files cannot average 900 bytes)

Then, in one run and alternating between the tools round by round, it times:
  - `setup-pack extract` of the raw archive and of a built installer (the reader's ExtractEntry
    pass over every entry, as the installer's extraction runs it, reading the package from the
    file), `tar -xf` of an uncompressed tar of the same tree, and `cp -r` of the tree, each into
    a folder never used before;
  - `setup-pack create` and `setup-pack build` of the 2,000-file tree against `tar -cf` of it.
It prints medians, the ratio of each median to tar's, the peak resident memory of
`setup-pack extract`, and a probe of the file system's state (microseconds per empty file
created) at the start and the end. --baseline times a second setup-pack (an earlier build) in the
same rounds; --strace counts the system calls of one run of each tool.

Every run writes into a fresh folder, and nothing is deleted until the end: the file system here
delays the reuse of freed inodes, so writing right after a delete costs many times more (and the
deletion at the end slows the next few minutes of file creation; --keep leaves it to the user).
Dirty pages are flushed (sync) before each timed run so that no run pays for another's
write-back. Only the standard library is used.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CAPACITY = 18_000_000
HEADER = 272
# 2024-03-01 12:00:00 UTC: an even second, so the DOS date-time keeps it exactly.
FIXED_MTIME = 1_709_294_400

SHAPES = [
    # name, files, folders below P
    ("one_file", 1, 0),
    ("2000_files", 2000, 50),
    ("20000_files", 20000, 500),
]


def file_sizes(files, folders, rng):
    """Sizes that fill the archive capacity exactly, each within a quarter of the mean."""
    entries = 1 + folders + files
    data = CAPACITY - HEADER * entries
    mean = data // files
    sizes = [mean + rng.randint(-mean // 4, mean // 4) for _ in range(files)]
    shortfall = data - sum(sizes)
    for i in range(files):
        sizes[i] += shortfall // files + (1 if i < shortfall % files else 0)
    assert sum(sizes) == data and min(sizes) > 0
    return sizes


def make_tree(root, files, folders, seed):
    rng = random.Random(seed)
    part = os.path.join(root, "P")
    os.makedirs(part)
    folder_paths = [os.path.join(part, "folder%03d" % i) for i in range(folders)]
    for path in folder_paths:
        os.mkdir(path)
    sizes = file_sizes(files, folders, rng)
    for i, size in enumerate(sizes):
        parent = folder_paths[i % folders] if folders else part
        name = "data.bin" if files == 1 else "file%05d.bin" % i
        path = os.path.join(parent, name)
        with open(path, "wb") as out:
            out.write(rng.randbytes(size))
        os.utime(path, (FIXED_MTIME, FIXED_MTIME))
    for path in folder_paths + [part]:
        os.utime(path, (FIXED_MTIME, FIXED_MTIME))
    return sum(sizes)


def run(command, log_path):
    """Runs a command after a sync; returns (seconds, CPU seconds)."""
    os.sync()
    with open(log_path, "ab") as log:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=log, stderr=log)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("failed (%d): %s; see %s" % (child.returncode, " ".join(command), log_path))
    return seconds, usage.ru_utime + usage.ru_stime


def peak_rss_kib(command, log_path):
    """Peak resident memory of a command, as /usr/bin/time reports it. (The child's own rusage
    is no good here: a child that Python starts counts Python's memory until it runs exec.)"""
    report = log_path + ".rss"
    with open(log_path, "ab") as log:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + command, stdout=log,
                       stderr=log, check=True)
    with open(report) as text:
        return int(text.read().split()[-1])


def same_tree(a, b):
    """True when the two trees hold the same names and the same file contents."""
    for folder, subfolders, names in os.walk(a):
        other = os.path.join(b, os.path.relpath(folder, a))
        if sorted(os.listdir(other)) != sorted(subfolders + names):
            return False
        for name in names:
            with open(os.path.join(folder, name), "rb") as x, \
                    open(os.path.join(other, name), "rb") as y:
                if x.read() != y.read():
                    return False
    return True


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.log = os.path.join(work, "commands.log")
        self.counter = 0
        # (phase, shape) -> {tool: [(seconds, CPU seconds), ...]}
        self.samples = {}
        # (shape, tool) -> peak RSS in KiB, the largest of a few untimed runs
        self.rss = {}

    def fresh(self, label):
        self.counter += 1
        return os.path.join(self.work, "runs", "%05d-%s" % (self.counter, label))

    def setup_packs(self):
        """The setup-pack programs to time: (label, path), the baseline second when given."""
        programs = [("setup-pack", self.args.setup_pack)]
        if self.args.baseline:
            programs.append(("baseline", self.args.baseline))
        return programs

    def extraction_commands(self, shape):
        base = os.path.join(self.work, shape)
        tools = []
        for label, program in self.setup_packs():
            for source, suffix in (("archive", ".pak"), ("installer", ".exe")):
                def extract(program=program, suffix=suffix, tag=label + source):
                    dest = self.fresh(shape + "-" + tag)
                    return [program, "extract", base + suffix, dest], dest
                tools.append(("%s extract (%s)" % (label, source), extract))

        def tar():
            dest = self.fresh(shape + "-tar")
            os.makedirs(dest)
            return ["tar", "-xf", base + ".tar", "-C", dest], dest

        def cp():
            dest = self.fresh(shape + "-cp")
            return ["cp", "-r", os.path.join(base, "tree"), dest], dest

        return tools + [("tar -xf", tar), ("cp -r", cp)]

    def packing_commands(self, shape):
        tree = os.path.join(self.work, shape, "tree")
        tools = []
        for label, program in self.setup_packs():
            def create(program=program, label=label):
                out = self.fresh(shape + "-" + label + "create")
                os.makedirs(out)
                return [program, "create", tree, os.path.join(out, "p.pak")], out

            def build(program=program, label=label):
                out = self.fresh(shape + "-" + label + "build")
                os.makedirs(out)
                return [program, "build", self.template, tree, os.path.join(out, "p.exe")], out
            tools += [(label + " create", create), (label + " build", build)]

        def tar():
            out = self.fresh(shape + "-tarc")
            os.makedirs(out)
            return ["tar", "-cf", os.path.join(out, "p.tar"), "-C", tree, "P"], out

        return tools + [("tar -cf", tar)]

    def creation_probe(self):
        """Microseconds per empty file created in a fresh folder: about 7 on a quiet file system
        here; many times more while the file system skips inodes freed in the last minutes."""
        folder = self.fresh("probe")
        os.makedirs(folder)
        count = 2000
        start = time.perf_counter()
        for i in range(count):
            os.close(os.open(os.path.join(folder, "f%d" % i), os.O_CREAT | os.O_WRONLY, 0o644))
        return 1e6 * (time.perf_counter() - start) / count

    def prepare(self):
        os.makedirs(os.path.join(self.work, "runs"))
        self.template = self.args.template
        if not self.template:
            self.template = os.path.join(self.work, "template.bin")
            subprocess.run([self.args.make_template, self.template], check=True)
        sp = self.args.setup_pack
        for index, (shape, files, folders) in enumerate(SHAPES):
            base = os.path.join(self.work, shape)
            tree = os.path.join(base, "tree")
            data = make_tree(tree, files, folders, seed=1000 + index)
            subprocess.run([sp, "create", tree, base + ".pak"], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run([sp, "build", self.template, tree, base + ".exe"], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run(["tar", "-cf", base + ".tar", "-C", tree, "P"], check=True)
            print("%-12s %6d files %4d folders  data %10d  archive %10d  tar %10d" % (
                shape, files, folders, data, os.path.getsize(base + ".pak"),
                os.path.getsize(base + ".tar")))

    def check_extraction(self, shape):
        """One untimed extraction per tool, compared with the source tree, and the peak memory
        of setup-pack extract over three more."""
        tree = os.path.join(self.work, shape, "tree")
        for tool, make in self.extraction_commands(shape):
            command, dest = make()
            run(command, self.log)
            if not same_tree(tree, dest):
                sys.exit("%s of %s does not reproduce the tree" % (tool, shape))
            if " extract " in tool:
                self.rss[(shape, tool)] = max(
                    peak_rss_kib(make()[0], self.log) for _ in range(3))

    def rounds(self, phase, shape, commands):
        tools = commands(shape)
        table = self.samples.setdefault((phase, shape), {tool: [] for tool, _ in tools})
        for round_index in range(self.args.rounds):
            turn = round_index % len(tools)
            for tool, make in tools[turn:] + tools[:turn]:
                command, _ = make()
                table[tool].append(run(command, self.log))

    def count_system_calls(self, shape):
        """strace -c of one run of each tool (not timed): calls by name, and per file."""
        files = next(files for name, files, _ in SHAPES if name == shape)
        for tool, make in self.extraction_commands(shape) + self.packing_commands(shape):
            command, _ = make()
            summary = self.fresh("strace") + ".txt"
            subprocess.run(["strace", "-f", "-c", "-o", summary] + command, check=True,
                           stdout=subprocess.DEVNULL)
            counts = []
            with open(summary) as text:
                for line in text:
                    fields = line.split()
                    if len(fields) >= 5 and fields[0][0].isdigit() and fields[-1] != "total":
                        counts.append((int(fields[3]), fields[-1]))
            print("\n-- %s, %s: system calls (count, per file)" % (tool, shape))
            for calls, name in sorted(counts, reverse=True):
                if calls >= 10:
                    print("   %-16s %8d %7.2f" % (name, calls, calls / files))


def report(bench):
    print("\n%-8s %-12s %-31s %9s %9s %9s %7s %8s" % (
        "phase", "shape", "tool", "median ms", "min ms", "max ms", "vs tar", "cpu ms"))
    for (phase, shape), table in bench.samples.items():
        reference = next(tool for tool in table if tool.startswith("tar"))
        tar = statistics.median(s[0] for s in table[reference])
        for tool, samples in table.items():
            times = [1000 * s[0] for s in samples]
            print("%-8s %-12s %-31s %9.1f %9.1f %9.1f %7.2f %8.1f" % (
                phase, shape, tool, statistics.median(times), min(times), max(times),
                statistics.median(s[0] for s in samples) / tar,
                1000 * statistics.median(s[1] for s in samples)))
    if bench.args.samples:
        print("\nevery run, ms, round by round:")
        for (phase, shape), table in bench.samples.items():
            for tool, samples in table.items():
                print("%-8s %-12s %-31s %s" % (phase, shape, tool,
                                               " ".join("%.1f" % (1000 * s[0]) for s in samples)))
    print("\npeak resident memory of extract (KiB, largest of 3 runs):")
    for (shape, tool), kib in bench.rss.items():
        print("   %-12s %-31s %8d" % (shape, tool, kib))


def machine():
    model = "?"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return model


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_build = os.path.join(os.path.dirname(here), "build", "native")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=default_build,
                        help="native build folder holding setup-pack and bench_make_template")
    parser.add_argument("--setup-pack", help="the setup-pack program (default: from --build)")
    parser.add_argument("--baseline", help="another setup-pack (an earlier build) to time in the "
                        "same rounds, for a before-and-after comparison")
    parser.add_argument("--template", help="installer template for build (default: a stand-in "
                        "made by bench_make_template)")
    parser.add_argument("--make-template", help="the bench_make_template program")
    parser.add_argument("--work", default=tempfile.gettempdir(),
                        help="folder under which a fresh working folder is made")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--strace", action="store_true",
                        help="also count the system calls of one run of each tool")
    parser.add_argument("--samples", action="store_true",
                        help="also print every timed run, in the order of the rounds")
    parser.add_argument("--keep", action="store_true", help="keep the working folder")
    args = parser.parse_args()
    args.setup_pack = os.path.abspath(
        args.setup_pack or os.path.join(args.build, "tools", "setup-pack", "setup-pack"))
    args.make_template = os.path.abspath(
        args.make_template or os.path.join(args.build, "bench", "bench_make_template"))
    if args.baseline:
        args.baseline = os.path.abspath(args.baseline)

    work = tempfile.mkdtemp(prefix="setup-job-bench-", dir=args.work)
    fs_type = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True,
                             text=True).stdout.strip()
    print("machine: %d CPUs, %s; working folder %s (%s); load average %.2f %.2f %.2f" % (
        os.cpu_count(), machine(), work, fs_type, *os.getloadavg()))
    print("setup-pack: %s\n" % args.setup_pack)
    bench = Bench(args, work)
    try:
        bench.prepare()
        print("\nfile creation probe: %.1f us per empty file" % bench.creation_probe())
        for shape, _, _ in SHAPES:
            bench.check_extraction(shape)
        for shape, _, _ in SHAPES:
            bench.rounds("extract", shape, bench.extraction_commands)
        bench.rounds("pack", "2000_files", bench.packing_commands)
        report(bench)
        if args.strace:
            bench.count_system_calls("2000_files")
        print("\nfile creation probe: %.1f us per empty file; load average %.2f %.2f %.2f" % (
            bench.creation_probe(), *os.getloadavg()))
    finally:
        if args.keep:
            print("kept", work)
        else:
            # Deleting this many files makes file creation on this file system slow for the
            # next few minutes (see the probe): leave some minutes before the next run.
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
