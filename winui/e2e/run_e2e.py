#!/usr/bin/python3
"""Runs the real Tinselpair.exe end to end under Wine, through a table of scenarios.

Usage: /usr/bin/python3 winui/e2e/run_e2e.py PATH/TO/Tinselpair.exe PATH/TO/driver.exe

Everything lives in one temporary folder: a virtual X display of its own, a
throwaway 32-bit Wine prefix, and the files of each scenario. The driver (driver.cpp)
plays the user for the whole table in one Wine process and writes down what it saw;
this script compares that, and every file a scenario must leave, with what is
expected. It prints one line per failing scenario, then "N passed, N failed", and
exits 1 if any scenario failed.
"""

import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

BANNER = "Tinselpair V2.1 - By Noelle Brightwater - tinselpair.example.org"
QUESTION = "What would you like to do?"
OPEN_FILTER = "BMP Picture (*.bmp)"
SAVE_FILTER = "Save BMP Filename (*.bmp)"

NO_INPUT = "No Input File Selected"
NO_OUTPUT = "No Output File Selected"
CANNOT_OPEN = "Could not open input file :("
CANNOT_WRITE = "Could not write output file :("
DAMAGED = "Input file is damaged :("
TOO_LARGE = "Picture too large for memory :("
COMBINED = "Combined Picture Successfully Saved! (Hopefully) =p"
EXTRACTED = "Second Picture Successfully Saved! (Hopefully) =p"

SETUP_TIMEOUT_S = 120


def bmp(width, height, shade):
    """A real 24-bit BMP: file header, info header, and bottom-up rows padded to 4 bytes."""
    row = bytes((shade + x * 7 + c) % 256 for x in range(width) for c in range(3))
    row += bytes(-len(row) % 4)
    pixels = b"".join(bytes((b + y) % 256 for b in row) for y in range(height))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    size = 14 + len(info) + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, 14 + len(info)) + info + pixels


def with_size_field(picture, size):
    return picture[:2] + struct.pack("<I", size) + picture[6:]


FIRST = bmp(3, 2, 10)
SECOND = bmp(5, 3, 100)
TRAILER = b"bytes after the declared end"
HOLIDAY = FIRST + SECOND
NOT_BMP = b"MB this is not a picture"
# Declares more bytes than the file holds.
SHORT = with_size_field(SECOND, len(SECOND) + 100)
# A first size field of 0 points back at the file's own signature.
ZERO_SIZE = with_size_field(FIRST, 0)
EXISTING = b"an output that must survive"
# The smallest piece a copy accepts: its signature and size field alone.
TINY = b"BM" + struct.pack("<I", 6)
# The largest size a signed bfSize can state: two such pieces cannot both fit in
# the 4 GiB that a 32-bit program can address, whatever the first one gets.
HUGE = 2**31 - 1


@dataclass
class Sparse:
    """A BMP header declaring `size` bytes, in a sparse file of that length, followed
    by `tail`."""

    size: int
    tail: bytes = b""


@dataclass
class Link:
    """A symbolic link to `target`."""

    target: str


@dataclass
class Step:
    """One driver command, with {dir} standing for the scenario's folder, and the
    observation the driver must write for it, if any."""

    command: str
    observation: str | None = None


@dataclass
class Scenario:
    name: str
    steps: list
    files: dict = field(default_factory=dict)  # made before the run: name -> content
    expect: dict = field(default_factory=dict)  # after the run: name -> bytes, None if absent


def describe_box(title, text, buttons, default):
    return f"box\ttitle={title}\ttext={text}\tbuttons={buttons}\tdefault={default}\ticon=none"


def question():
    return [Step("box", describe_box(QUESTION, QUESTION, "Combine,Get 2nd,Quit", "Combine"))]


def ask(label):
    return question() + [Step(f"click {label}")]


def choose_input(name):
    return [Step(f"choose {{dir}}\\{name}", f"dialog\tfilter={OPEN_FILTER}")]


def choose_output(name):
    return [Step(f"choose {{dir}}\\{name}", f"dialog\tfilter={SAVE_FILTER}")]


def cancel_input():
    return [Step("cancel", f"dialog\tfilter={OPEN_FILTER}")]


def cancel_output():
    return [Step("cancel", f"dialog\tfilter={SAVE_FILTER}")]


def overwrite():
    return [Step("overwrite", "overwrite")]


def ends_quietly():
    return [Step("exit", "exit\tcode=0")]


def ends_with(message):
    closing_box = Step("box", describe_box(BANNER, message, "OK", "OK"))
    return [closing_box, Step("click OK")] + ends_quietly()


def combine(first, second, output):
    return ask("Combine") + choose_input(first) + choose_input(second) + choose_output(output)


def get_second(source, output):
    return ask("Get 2nd") + choose_input(source) + choose_output(output)


# Two cases stay out because Wine's file dialogs differ from Windows': Wine's open
# dialog checks that a typed name exists before it adds ".bmp", and Wine 8's dialogs
# crash on a name longer than 259 characters.
SCENARIOS = [
    # The question, and the ways of leaving it without a message.
    Scenario("quit", ask("Quit") + ends_quietly()),
    Scenario("escape-quits", question() + [Step("key escape")] + ends_quietly()),
    Scenario("close-message-quits", question() + [Step("close wm")] + ends_quietly()),
    Scenario("system-menu-close-quits", question() + [Step("close sc")] + ends_quietly()),
    Scenario(
        # Get 2nd would stop at the regular BMP; Combine asks for a second input.
        "enter-chooses-combine",
        question() + [Step("key enter")] + choose_input("a.bmp") + cancel_input()
        + ends_with(NO_INPUT),
        files={"a.bmp": FIRST},
    ),
    # Combine.
    Scenario(
        "combine-drops-trailing-bytes",
        combine("a.bmp", "b.bmp", "out.bmp") + ends_with(COMBINED),
        files={"a.bmp": FIRST + TRAILER, "b.bmp": SECOND + TRAILER},
        expect={"out.bmp": FIRST + SECOND},
    ),
    Scenario(
        "combine-same-file-twice",
        combine("a.bmp", "a.bmp", "out.bmp") + ends_with(COMBINED),
        files={"a.bmp": FIRST},
        expect={"out.bmp": FIRST + FIRST},
    ),
    Scenario(
        "combine-into-first-input",
        combine("a.bmp", "b.bmp", "a.bmp") + overwrite() + ends_with(COMBINED),
        files={"a.bmp": FIRST, "b.bmp": SECOND},
        expect={"a.bmp": FIRST + SECOND, "b.bmp": SECOND},
    ),
    Scenario(
        "combine-adds-extension",
        combine("a.bmp", "b.bmp", "out") + ends_with(COMBINED),
        files={"a.bmp": FIRST, "b.bmp": SECOND},
        expect={"out.bmp": FIRST + SECOND, "out": None},
    ),
    Scenario(
        "combine-first-input-cancelled", ask("Combine") + cancel_input() + ends_with(NO_INPUT)
    ),
    Scenario(
        "combine-second-input-cancelled",
        ask("Combine") + choose_input("a.bmp") + cancel_input() + ends_with(NO_INPUT),
        files={"a.bmp": FIRST},
    ),
    Scenario(
        "combine-output-cancelled",
        ask("Combine") + choose_input("a.bmp") + choose_input("b.bmp") + cancel_output()
        + ends_with(NO_OUTPUT),
        files={"a.bmp": FIRST, "b.bmp": SECOND},
    ),
    Scenario(
        "combine-first-not-bmp",
        ask("Combine") + choose_input("n.bmp") + ends_with("Not a valid BMP file"),
        files={"n.bmp": NOT_BMP},
    ),
    Scenario(
        "combine-second-not-bmp",
        ask("Combine") + choose_input("a.bmp") + choose_input("n.bmp")
        + ends_with("Not a valid BMP file"),
        files={"a.bmp": FIRST, "n.bmp": NOT_BMP},
    ),
    Scenario(
        "combine-first-holiday-lights",
        ask("Combine") + choose_input("h.bmp")
        + ends_with("Already a valid holiday lights BMP file"),
        files={"h.bmp": HOLIDAY},
    ),
    Scenario(
        "combine-second-holiday-lights",
        ask("Combine") + choose_input("a.bmp") + choose_input("h.bmp")
        + ends_with("Already a valid holiday lights BMP file"),
        files={"a.bmp": FIRST, "h.bmp": HOLIDAY},
    ),
    Scenario(
        "combine-input-locked",
        ask("Combine") + [Step("lock {dir}\\a.bmp")] + choose_input("a.bmp")
        + ends_with(CANNOT_OPEN),
        files={"a.bmp": FIRST},
    ),
    Scenario(
        # The first input has been classified and closed by the time the second
        # dialog is answered, so deleting it then makes it vanish before the copy.
        "combine-input-vanished",
        ask("Combine") + choose_input("a.bmp") + choose_input("b.bmp")
        + [Step("delete {dir}\\a.bmp")] + choose_output("out.bmp") + ends_with(CANNOT_OPEN),
        files={"a.bmp": FIRST, "b.bmp": SECOND},
        expect={"out.bmp": None},
    ),
    Scenario(
        "combine-damaged-keeps-output",
        combine("a.bmp", "s.bmp", "out.bmp") + overwrite() + ends_with(DAMAGED),
        files={"a.bmp": FIRST, "s.bmp": SHORT, "out.bmp": EXISTING},
        expect={"out.bmp": EXISTING},
    ),
    Scenario(
        # Wine takes a character device for a missing file, so nothing asks to replace it.
        "combine-output-unwritable",
        combine("a.bmp", "b.bmp", "full.bmp") + ends_with(CANNOT_WRITE),
        files={"a.bmp": FIRST, "b.bmp": SECOND, "full.bmp": Link("/dev/full")},
    ),
    Scenario(
        "combine-too-large-for-memory",
        combine("big1.bmp", "big2.bmp", "out.bmp") + ends_with(TOO_LARGE),
        files={"big1.bmp": Sparse(HUGE), "big2.bmp": Sparse(HUGE)},
        expect={"out.bmp": None},
    ),
    # Get 2nd.
    Scenario(
        "get-second-drops-trailing-bytes",
        get_second("h.bmp", "out.bmp") + ends_with(EXTRACTED),
        files={"h.bmp": HOLIDAY + TRAILER},
        expect={"out.bmp": SECOND, "h.bmp": HOLIDAY + TRAILER},
    ),
    Scenario(
        # The second picture's size field stands past 0x7FFFFFFF: the 32-bit program
        # must reach it without its offsets wrapping.
        "get-second-beyond-2-gib",
        get_second("far.bmp", "out.bmp") + ends_with(EXTRACTED),
        files={"far.bmp": Sparse(HUGE - 1, TINY)},
        expect={"out.bmp": TINY},
    ),
    Scenario(
        "get-second-into-input",
        get_second("h.bmp", "h.bmp") + overwrite() + ends_with(EXTRACTED),
        files={"h.bmp": HOLIDAY + TRAILER},
        expect={"h.bmp": SECOND},
    ),
    Scenario(
        "get-second-regular",
        ask("Get 2nd") + choose_input("a.bmp") + ends_with("Regular BMP file"),
        files={"a.bmp": FIRST},
    ),
    Scenario(
        "get-second-not-bmp",
        ask("Get 2nd") + choose_input("n.bmp") + ends_with("Not a valid holiday lights BMP file"),
        files={"n.bmp": NOT_BMP},
    ),
    Scenario(
        "get-second-zero-size",
        get_second("z.bmp", "out.bmp") + ends_with(DAMAGED),
        files={"z.bmp": ZERO_SIZE},
        expect={"out.bmp": None, "z.bmp": ZERO_SIZE},
    ),
    Scenario(
        "get-second-damaged-keeps-output",
        get_second("h.bmp", "out.bmp") + overwrite() + ends_with(DAMAGED),
        files={"h.bmp": FIRST + SHORT, "out.bmp": EXISTING},
        expect={"out.bmp": EXISTING},
    ),
    Scenario("get-second-input-cancelled", ask("Get 2nd") + cancel_input() + ends_with(NO_INPUT)),
    Scenario(
        "get-second-output-cancelled",
        ask("Get 2nd") + choose_input("h.bmp") + cancel_output() + ends_with(NO_OUTPUT),
        files={"h.bmp": HOLIDAY},
    ),
    Scenario(
        "get-second-input-locked",
        ask("Get 2nd") + [Step("lock {dir}\\h.bmp")] + choose_input("h.bmp")
        + ends_with(CANNOT_OPEN),
        files={"h.bmp": HOLIDAY},
    ),
    Scenario(
        "get-second-output-unwritable",
        get_second("h.bmp", "full.bmp") + ends_with(CANNOT_WRITE),
        files={"h.bmp": HOLIDAY, "full.bmp": Link("/dev/full")},
    ),
]


# A scenario takes a second or two, and the driver gives up on a window after 10 s,
# so even a table in which every scenario times out ends within this bound.
DRIVER_TIMEOUT_S = 15 * len(SCENARIOS)


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def make_files(folder, files):
    folder.mkdir()
    for name, content in files.items():
        path = folder / name
        if isinstance(content, Link):
            path.symlink_to(content.target)
        elif isinstance(content, Sparse):
            path.write_bytes(with_size_field(FIRST, content.size))
            os.truncate(path, content.size)
            with open(path, "ab") as out:
                out.write(content.tail)
        else:
            path.write_bytes(content)


def write_table(path, scenarios, root):
    lines = []
    for scenario in scenarios:
        folder = windows_path(root / scenario.name)
        commands = [step.command.replace("{dir}", folder) for step in scenario.steps]
        lines.append("\t".join([scenario.name] + commands))
    path.write_text("\n".join(lines) + "\n")


def read_results(path):
    """The driver's observations, by scenario."""
    seen = {}
    lines = path.read_text(errors="replace").splitlines() if path.exists() else []
    for line in lines:
        if line.startswith("scenario "):
            current = seen.setdefault(line.removeprefix("scenario "), [])
        else:
            current.append(line)
    return seen


def show(data):
    if data is None:
        return "no file"
    return f"{len(data)} bytes {data[:16]!r}..."


def difference(want, got):
    """Names only the fields that differ when the driver saw the expected kind of window."""
    wanted, seen = want.split("\t"), got.split("\t")
    if wanted[0] != seen[0] or len(wanted) != len(seen):
        return f"expected {want!r} but saw {got!r}"
    fields = [f"{w!r} but saw {s!r}" for w, s in zip(wanted[1:], seen[1:]) if w != s]
    return f"{wanted[0]}: expected " + ", ".join(fields)


def problems(scenario, observations, root):
    """What went wrong in one scenario, in words; empty if it passed."""
    if observations is None:
        return ["the driver wrote nothing for it"]
    expected = [step.observation for step in scenario.steps if step.observation is not None]
    for index, want in enumerate(expected):
        got = observations[index] if index < len(observations) else "nothing"
        if got != want:
            return [difference(want, got)]
    if len(observations) > len(expected):
        return [f"saw more than expected: {observations[len(expected)]!r}"]
    found = []
    for name, want in scenario.expect.items():
        path = root / scenario.name / name
        got = path.read_bytes() if path.exists() else None
        if got != want:
            found.append(f"{name} should hold {show(want)} but holds {show(got)}")
    return found


def start_display(log):
    """Starts Xvfb on a display number it picks itself. Returns the process and the number."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
        pass_fds=[write_end],
        stdout=log,
        stderr=log,
    )
    os.close(write_end)
    # Xvfb writes the number and the newline separately, and dies if the pipe is
    # closed before both are written.
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], deadline - time.monotonic())
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.endswith(b"\n"):
        stop(xvfb)
        raise RuntimeError("Xvfb did not start")
    return xvfb, number.decode().strip()


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)


# Without a window manager Wine's managed windows wait 2 s for one that never comes;
# and a crashing program must just end, not open Wine's crash dialog.
REGISTRY = """REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000
"""


def make_prefix(env, root, log):
    def wine(*command):
        subprocess.run(
            command, env=env, stdout=log, stderr=log, timeout=SETUP_TIMEOUT_S, check=True
        )

    wine("wineboot", "--init")
    wine("wineserver", "-w")
    settings = root / "settings.reg"
    settings.write_text(REGISTRY)
    wine("wine", "regedit", "/S", windows_path(settings))
    wine("wineserver", "-w")


def run_table(program, driver, root):
    """Runs the driver over the whole table; returns the path of its results."""
    with open(root / "wine.log", "wb") as log:
        xvfb, display = start_display(log)
        env = dict(
            os.environ,
            DISPLAY=f":{display}",
            WINEARCH="win32",
            WINEPREFIX=str(root / "prefix"),
            WINEDLLOVERRIDES="mscoree,mshtml=",
            WINEDEBUG="-all",
            # wineserver keeps its socket folder there and leaves it behind.
            TMPDIR=str(root),
        )
        try:
            make_prefix(env, root, log)
            table = root / "table.txt"
            results = root / "results.txt"
            write_table(table, SCENARIOS, root)
            # The driver writes to a file: a Wine program's output through a pipe is
            # buffered, and wineserver may hold the pipe open after it ends.
            command = ["wine", str(driver), windows_path(program), windows_path(table)]
            try:
                subprocess.run(
                    command + [windows_path(results)],
                    env=env,
                    cwd=root,
                    stdout=log,
                    stderr=log,
                    timeout=DRIVER_TIMEOUT_S,
                )
            except subprocess.TimeoutExpired:
                print(f"the driver did not finish within {DRIVER_TIMEOUT_S} s")
            return results
        finally:
            try:
                subprocess.run(["wineserver", "-k"], env=env, stdout=log, stderr=log, timeout=30)
            finally:
                stop(xvfb)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    program, driver = (Path(argument).resolve() for argument in sys.argv[1:])
    root = Path(tempfile.mkdtemp(prefix="tinselpair-e2e-"))
    try:
        for scenario in SCENARIOS:
            make_files(root / scenario.name, scenario.files)
        started = time.monotonic()
        try:
            seen = read_results(run_table(program, driver, root))
        except (OSError, RuntimeError, subprocess.SubprocessError) as error:
            print(f"cannot run the table: {error}")
            seen = {}
        failed = 0
        for scenario in SCENARIOS:
            found = problems(scenario, seen.get(scenario.name), root)
            if found:
                failed += 1
                print(f"FAIL {scenario.name}: " + "; ".join(found))
        print(f"table ran in {time.monotonic() - started:.0f} s")
        print(f"{len(SCENARIOS) - failed} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
