#!/usr/bin/python3
"""Times the core's copies of 256 MiB pictures against a plain copy of the same bytes.

    container/bench/run_bench.py [RUNS]     default 5

Builds copy_bench (preset native, -O2), writes two 256 MiB pictures and their
combined file into a fresh folder under TMPDIR (or /tmp), which should be on a real
disk, and times each copy RUNS times in a fresh process, alternating with the plain
copy: `cat` for Combine, `tail | head` for Get 2nd. Prints medians, the ratio to the
plain copy and the peak resident memory of each (measured with /usr/bin/time, Debian
package `time`), then removes the folder. It prints figures only and fails only when
a copy fails or its output is wrong.
"""
import filecmp
import os
import pathlib
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
PICTURE_SIZE = 256 * MIB
REPO = pathlib.Path(__file__).resolve().parents[2]
BENCH = REPO / "build/native/container/bench/copy_bench"


def build():
    subprocess.run(["cmake", "--preset", "native"], cwd=REPO, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "native", "--target", "copy_bench"],
                   cwd=REPO, check=True)


def write_picture(path, size):
    """A picture that is "BM", its size and random bytes: nothing a disk or cache can
    shortcut the way it can zeros."""
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<I", size) + os.urandom(MIB - 6))
        for _ in range(size // MIB - 1):
            out.write(os.urandom(MIB))


def timed(argv, output, expected_size):
    """Runs argv in a fresh process; returns its wall time in seconds and the peak
    resident memory in MiB of it and its children.

    The memory is measured by /usr/bin/time: a child's peak counts what its parent
    held when it forked, which from this script would be some 40 MiB of Python."""
    if os.path.exists(output):
        os.remove(output)
    # Let the previous run's output reach the disk first, so that no run pays for
    # another's writeback.
    os.sync()
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name] + argv).returncode
        seconds = time.perf_counter() - start
        peak_kib = int(peak.read())
    if status != 0 or os.path.getsize(output) != expected_size:
        sys.exit(f"failed: {' '.join(argv)}")
    return seconds, peak_kib / 1024


def compare(name, core, plain, runs, held_mib, core_out, plain_out):
    """Times core and plain `runs` times each, alternating; returns a table row."""
    if not filecmp.cmp(core_out, plain_out, shallow=False):
        sys.exit(f"{name}: the core's output differs from the plain copy")
    core_runs, plain_runs = [], []
    for _ in range(runs):
        core_runs.append(core())
        plain_runs.append(plain())
    core_s = statistics.median(s for s, _ in core_runs)
    plain_s = statistics.median(s for s, _ in plain_runs)
    core_mib = max(m for _, m in core_runs)
    plain_mib = max(m for _, m in plain_runs)
    return (f"| {name} | {core_s:.3f} | {plain_s:.3f} | {core_s / plain_s:.2f} | "
            f"{core_mib:.0f} | {plain_mib:.0f} | {held_mib + 16} |")


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    build()
    folder = pathlib.Path(tempfile.mkdtemp(prefix="tinselpair-bench-"))
    try:
        if shutil.disk_usage(folder).free < 3 * 1024 * MIB:
            sys.exit(f"need 3 GiB free in {folder}")
        first, second, pair = folder / "first.bmp", folder / "second.bmp", folder / "pair.bmp"
        core_out, plain_out = folder / "core.bmp", folder / "plain.bmp"
        write_picture(first, PICTURE_SIZE)
        write_picture(second, PICTURE_SIZE)
        with open(pair, "wb") as out:
            for piece in (first, second):
                with open(piece, "rb") as src:
                    shutil.copyfileobj(src, out, 16 * MIB)

        def combine_core():
            return timed([str(BENCH), "combine", str(first), str(second), str(core_out)],
                         core_out, 2 * PICTURE_SIZE)

        def combine_plain():
            return timed(["sh", "-c", f"cat '{first}' '{second}' > '{plain_out}'"],
                         plain_out, 2 * PICTURE_SIZE)

        def get2nd_core():
            return timed([str(BENCH), "get2nd", str(pair), str(core_out)], core_out, PICTURE_SIZE)

        def get2nd_plain():
            cut = f"tail -c +{PICTURE_SIZE + 1} '{pair}' | head -c {PICTURE_SIZE} > '{plain_out}'"
            return timed(["sh", "-c", cut], plain_out, PICTURE_SIZE)

        rows = []
        for name, core, plain, held in (("Combine 2 x 256 MiB", combine_core, combine_plain, 512),
                                        ("Get 2nd 256 MiB", get2nd_core, get2nd_plain, 256)):
            core()
            plain()
            rows.append(compare(name, core, plain, runs, held, core_out, plain_out))
    finally:
        shutil.rmtree(folder)

    print(f"\n{runs} runs each, medians; folder on {os.path.dirname(folder)}; "
          f"{os.cpu_count()} cores")
    print("| Operation | Core s | Plain copy s | Ratio | Core peak RSS MiB "
          "| Plain peak RSS MiB | RSS limit MiB |")
    print("|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
