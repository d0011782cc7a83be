#!/usr/bin/env python3
"""Our installer against NSIS, installing the same trees under Wine on this machine.

Makes three trees deterministically (the files of a library package's part C, beside an id.txt):

  one_file      one file of about 17 MB
  2000_files    2,000 files of about 8.5 KB in 50 folders
  20000_files   20,000 files of about 600 bytes in 500 folders

and builds each into
  - our installer (the template of the build that --build names, win64 by default,
    `setup-pack build --job library`; the manifest names C++Builder 1, which no prefix
    registers, so the job unpacks into the product folder below TEMP);
  - an NSIS installer with `SetCompress off` (stored), and one with solid LZMA, both for the
    same processor (`Target amd64-unicode` or `x86-unicode`), silent, installing into the
    folder /D names.

Then, round by round and in alternating order, it runs each installer into a folder never used
before and times:
  - ours: from the press of OK to the result box ("All files are unpacked to: ..."), measured by
    the Windows driver build/<build>/bench/installer_bench_driver.exe inside Wine;
  - NSIS: the whole run of `wine installer.exe /S /D=...`.
"Net" is a shape's median minus the same tool's one-file median of a tiny tree (one 1-byte
file), which takes out what every run pays whatever it installs (Wine starting a process, the
window, the first timer tick). It prints sizes, medians, net times and the ratios to NSIS stored.

Installs NSIS (Debian package nsis) when makensis is missing; the tests never need it.
Nothing is deleted until the end (the file system here delays the reuse of freed inodes, which
would slow the next runs); --keep leaves the work folder.

--requests also counts the Wine-server requests per extracted item of each installer (a logging
wineserver replaces the prefix's for that part).

usage: python3 bench/installer_bench.py [--build win64|win32] [--rounds N] [--work DIR] [--keep]
                                       [--requests]
  (after `cmake --build --preset <build>` and `cmake --build --preset native`)
"""

import argparse
import collections
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CAPACITY = 18_000_000
HEADER = 272
FIXED_MTIME = 1_709_294_400
PRODUCT = "BenchProduct"
MANIFEST = "S IDE:         C1\r\nD Folder:      %s\r\n" % PRODUCT

SHAPES = [
    # name, files, folders below C
    ("tiny", 1, 0),
    ("one_file", 1, 0),
    ("2000_files", 2000, 50),
    ("20000_files", 20000, 500),
]
TOOLS = ["ours", "nsis_stored", "nsis_lzma"]
# NSIS's name for the processor of each of our builds.
NSIS_TARGETS = {"win64": "amd64-unicode", "win32": "x86-unicode"}


def wine_env():
    """The project's Wine settings (scripts/wine-env.sh), as environment variables."""
    script = "source %s/scripts/wine-env.sh && env -0" % ROOT
    output = subprocess.run(["bash", "-c", script], check=True, capture_output=True).stdout
    return dict(item.split("=", 1) for item in output.decode().split("\0") if "=" in item)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def make_tree(root, shape, files, folders, seed):
    rng = random.Random(seed)
    part = os.path.join(root, "C")
    os.makedirs(part)
    with open(os.path.join(root, "id.txt"), "w", newline="") as manifest:
        manifest.write(MANIFEST)
    folder_paths = [os.path.join(part, "folder%03d" % i) for i in range(folders)]
    for path in folder_paths:
        os.mkdir(path)
    if shape == "tiny":
        sizes = [1]
    else:
        entries = 3 + folders + files
        data = CAPACITY - HEADER * entries - len(MANIFEST) - 65_536
        mean = data // files
        sizes = [mean + rng.randint(-mean // 4, mean // 4) for _ in range(files)]
        scale = min(1.0, data / sum(sizes))
        sizes = [max(1, int(size * scale)) for size in sizes]
    for i, size in enumerate(sizes):
        parent = folder_paths[i % folders] if folders else part
        path = os.path.join(parent, "data.bin" if files == 1 else "file%05d.bin" % i)
        with open(path, "wb") as out:
            out.write(rng.randbytes(size))
        os.utime(path, (FIXED_MTIME, FIXED_MTIME))
    return sum(sizes)


def nsis_script(tree, out, compression, target):
    return "\n".join([
        "Unicode true",
        "Target " + target,
        compression,
        'OutFile "%s"' % out,
        'InstallDir "$TEMP\\nsis-bench"',
        "RequestExecutionLevel user",
        "SilentInstall silent",
        "Section",
        "  SetOutPath $INSTDIR",
        '  File /r "%s/C/*"' % tree,
        "SectionEnd",
        "",
    ])


def ensure_makensis():
    if shutil.which("makensis"):
        return
    print("installing NSIS (Debian package nsis) for the comparison")
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "nsis"],
                   check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.env = dict(os.environ, **wine_env())
        self.wine = self.env["SETUP_WINE"]
        self.counter = 0
        self.installers = {}  # (shape, tool) -> path
        self.samples = {}  # (shape, tool) -> [seconds]
        self.tree_bytes = {}

    def fresh(self, label):
        self.counter += 1
        path = os.path.join(self.work, "runs", "%05d-%s" % (self.counter, label))
        os.makedirs(path)
        return path

    def build(self):
        template = os.path.join(ROOT, "build", self.args.build, "app/Setup.exe")
        tool = os.path.join(ROOT, "build/native/tools/setup-pack/setup-pack")
        for shape, files, folders in SHAPES:
            tree = os.path.join(self.work, "trees", shape)
            self.tree_bytes[shape] = make_tree(tree, shape, files, folders, seed=len(shape))
            ours = os.path.join(self.work, "installers", shape + "-ours.exe")
            os.makedirs(os.path.dirname(ours), exist_ok=True)
            subprocess.run([tool, "build", "--job", "library", template, tree, ours], check=True,
                           stdout=subprocess.DEVNULL)
            self.installers[(shape, "ours")] = ours
            for tool_name, compression in (("nsis_stored", "SetCompress off"),
                                           ("nsis_lzma", "SetCompressor /SOLID lzma")):
                out = os.path.join(self.work, "installers", "%s-%s.exe" % (shape, tool_name))
                script = out + ".nsi"
                with open(script, "w") as text:
                    text.write(nsis_script(tree, out, compression,
                                           NSIS_TARGETS[self.args.build]))
                subprocess.run(["makensis", "-V1", script], check=True)
                self.installers[(shape, tool_name)] = out

    def run_once(self, shape, tool):
        installer = self.installers[(shape, tool)]
        target = self.fresh("%s-%s" % (shape, tool))
        os.sync()
        if tool == "ours":
            driver = os.path.join(ROOT, "build", self.args.build,
                                  "bench/installer_bench_driver.exe")
            result = subprocess.run(
                [self.wine, driver, windows_path(installer), windows_path(target),
                 "All files are unpacked to:"],
                env=self.env, capture_output=True, text=True)
            if result.returncode != 0:
                sys.exit("our installer failed (%s): %s" % (shape, result.stderr))
            seconds = float(result.stdout.split("\n")[0]) / 1000
            installed = os.path.join(target, PRODUCT)
        else:
            start = time.perf_counter()
            subprocess.run([self.wine, installer, "/S", "/D=" + windows_path(target)],
                           env=self.env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            seconds = time.perf_counter() - start
            installed = target
        self.check(shape, installed)
        self.samples.setdefault((shape, tool), []).append(seconds)

    def check(self, shape, installed):
        """The installed files are the tree's part C, byte for byte."""
        source = os.path.join(self.work, "trees", shape, "C")
        for folder, _, names in os.walk(source):
            other = os.path.join(installed, os.path.relpath(folder, source))
            for name in names:
                with open(os.path.join(folder, name), "rb") as x, \
                        open(os.path.join(other, name), "rb") as y:
                    if x.read() != y.read():
                        sys.exit("%s: %s differs after installing" % (shape, name))

    def measure(self):
        rng = random.Random(7)
        for round_index in range(self.args.rounds):
            order = [(shape, tool) for shape, _, _ in SHAPES for tool in TOOLS]
            rng.shuffle(order)
            for shape, tool in order:
                self.run_once(shape, tool)
            print("round %d of %d done" % (round_index + 1, self.args.rounds), flush=True)

    def report(self):
        median = {key: statistics.median(values) for key, values in self.samples.items()}
        print()
        print("%-12s %-12s %12s %10s %10s %8s" % ("shape", "tool", "bytes", "median", "net",
                                                   "vs NSIS"))
        for shape, _, _ in SHAPES:
            if shape == "tiny":
                continue
            stored_net = median[(shape, "nsis_stored")] - median[("tiny", "nsis_stored")]
            for tool in TOOLS:
                net = median[(shape, tool)] - median[("tiny", tool)]
                size = os.path.getsize(self.installers[(shape, tool)])
                print("%-12s %-12s %12d %8.0f ms %7.0f ms %8.2f" % (
                    shape, tool, size, median[(shape, tool)] * 1000, net * 1000,
                    net / stored_net if stored_net > 0 else float("nan")))
        print()
        print("tiny tree (subtracted): " + ", ".join(
            "%s %.0f ms" % (tool, median[("tiny", tool)] * 1000) for tool in TOOLS))
        print("samples per figure: %d; every sample (ms):" % self.args.rounds)
        for (shape, tool), values in sorted(self.samples.items()):
            print("  %-12s %-12s %s" % (shape, tool, " ".join("%.0f" % (v * 1000) for v in values)))


REQUEST = re.compile(r"^[0-9a-f]+: ([a-z_]+)\((?!\) =)")


class ServerLog:
    """A wineserver of the prefix that logs every request (-d1), in place of the usual one."""

    def __init__(self, env, path):
        self.env = env
        self.path = path
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        time.sleep(1)
        self.log = open(path, "wb")
        self.server = subprocess.Popen(["wineserver", "-f", "-d1", "-p"], env=env,
                                       stderr=self.log, stdout=subprocess.DEVNULL)
        time.sleep(1)
        subprocess.run([env["SETUP_WINE"], "cmd.exe", "/c", "exit", "0"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def requests_of(self, command):
        """The requests that the server logged while `command` ran, by name."""
        time.sleep(0.5)
        start = os.path.getsize(self.path)
        subprocess.run(command, env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        counts = collections.Counter()
        with open(self.path, "rb") as log:
            log.seek(start)
            for line in log.read().decode("utf-8", "replace").splitlines():
                match = REQUEST.match(line)
                if match:
                    counts[match.group(1)] += 1
        return counts

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        self.server.wait()
        self.log.close()


def count_requests(bench):
    """Wine-server requests per extracted item: the 2,000-file tree's requests minus the tiny
    tree's, divided by the 2,050 items it adds (2,000 files, 50 folders). Ours: the installer's
    extraction pass alone (bench/extraction_pass.cpp: app::ExtractPart with its writer threads, as
    a job runs it); NSIS: the installer."""
    tool = os.path.join(ROOT, "build/native/tools/setup-pack/setup-pack")
    extraction_pass = os.path.join(ROOT, "build", bench.args.build, "bench/extraction_pass.exe")
    log = ServerLog(bench.env, os.path.join(bench.work, "server.log"))
    try:
        per_item = {}
        for tool_name in TOOLS:
            counts = {}
            for shape in ("tiny", "2000_files"):
                target = bench.fresh("requests-%s-%s" % (shape, tool_name))
                if tool_name == "ours":
                    archive = os.path.join(bench.work, "installers", shape + ".pak")
                    subprocess.run([tool, "create", os.path.join(bench.work, "trees", shape),
                                    archive], check=True, stdout=subprocess.DEVNULL)
                    command = [bench.wine, extraction_pass, windows_path(archive), "C",
                               windows_path(target)]
                else:
                    command = [bench.wine, bench.installers[(shape, tool_name)], "/S",
                               "/D=" + windows_path(target)]
                counts[shape] = log.requests_of(command)
            extra = counts["2000_files"].copy()
            extra.subtract(counts["tiny"])
            per_item[tool_name] = {name: n / 2050 for name, n in extra.items() if n > 0}
    finally:
        log.close()
        subprocess.run(["bash", "-c", "source %s/scripts/wine-env.sh && start_wine_server" % ROOT],
                       env=bench.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print()
    print("Wine-server requests per extracted item (2,000-file tree minus the tiny one):")
    for tool_name, kinds in per_item.items():
        total = sum(kinds.values())
        top = ", ".join("%s %.2f" % (name, n) for name, n in
                        sorted(kinds.items(), key=lambda item: -item[1]) if n >= 0.05)
        print("  %-12s %5.2f  (%s)" % (tool_name, total, top))


def start_display():
    """A virtual X display for our installer's window when there is none; its process, or None."""
    if os.environ.get("DISPLAY"):
        return None
    display = ":%d" % (200 + os.getpid() % 100)
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = display
    time.sleep(1)
    return server


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", choices=sorted(NSIS_TARGETS), default="win64",
                        help="the Windows build whose installer is measured")
    parser.add_argument("--rounds", type=int, default=5, help="timed rounds (0: none)")
    parser.add_argument("--work", default=None, help="folder for trees, installers and runs")
    parser.add_argument("--keep", action="store_true", help="leave the work folder")
    parser.add_argument("--requests", action="store_true",
                        help="also count the Wine-server requests per extracted item")
    args = parser.parse_args()
    ensure_makensis()
    work = tempfile.mkdtemp(prefix="installer-bench-", dir=args.work)
    display = start_display()
    bench = Bench(args, work)
    try:
        bench.build()
        if args.rounds > 0:
            bench.measure()
            bench.report()
        if args.requests:
            count_requests(bench)
    finally:
        if display:
            display.terminate()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
