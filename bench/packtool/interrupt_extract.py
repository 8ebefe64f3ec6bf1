#!/usr/bin/env python3
"""Ctrl-C at a random moment of `packtool extract --all`: how many runs left
something of theirs behind (a staged .packtool-* file, or a folder the run
made that holds nothing). A measurement, not a test: it prints figures.

  interrupt_extract.py PACKTOOL FOLDER [RUNS [FILES [JOBS]]]   (defaults: 12 runs, 20000 files, "1,2")

FOLDER holds the archive (made once, stored entries of 100 to 2,000 bytes,
100 files a folder) and each run's output; put it on the disk to measure.
Each run gets SIGINT after a random share of the time a whole run takes,
with each -j of JOBS."""
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import time


def make_archive(path, files):
    rows = ["C:\\Index.txt"]
    rows += [f"C:\\Daten\\Ordner{i // 100}\\Datei{i}.txt" for i in range(files)]
    index = "".join(row + "\r\n" for row in rows).encode("cp1252")
    rng = random.Random(1)
    with open(path, "wb") as archive:
        # A stored entry: its header gives the same unpacked and packed size.
        archive.write(struct.pack("<II", len(index), len(index)) + index)
        for i in range(files):
            data = (f"Datei {i} " * 200).encode()[: rng.randint(100, 2000)]
            archive.write(struct.pack("<II", len(data), len(data)) + data)


def leftovers(out):
    """Staged files and empty folders below out (out itself included)."""
    staged = empty = 0
    if not os.path.isdir(out):
        return 0, 0
    for folder, folders, names in os.walk(out):
        staged += sum(1 for name in names if name.startswith(".packtool-"))
        if not folders and not names:
            empty += 1
    return staged, empty


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 1
    packtool, folder = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 12
    files = int(sys.argv[4]) if len(sys.argv) > 4 else 20000
    job_counts = [int(j) for j in sys.argv[5].split(",")] if len(sys.argv) > 5 else [1, 2]
    os.makedirs(folder, exist_ok=True)
    archive = os.path.join(folder, f"interrupt-{files}.zip")
    if not os.path.exists(archive):
        make_archive(archive, files)
    out = os.path.join(folder, f"out-{os.getpid()}")
    rng = random.Random()
    for jobs in job_counts:
        shutil.rmtree(out, ignore_errors=True)
        started = time.monotonic()
        subprocess.run([packtool, "extract", "--all", "-q", "-j", str(jobs), "-d", out, archive], check=True)
        whole = time.monotonic() - started
        with_leftovers = staged_total = empty_total = 0
        for _ in range(runs):
            shutil.rmtree(out, ignore_errors=True)
            run = subprocess.Popen([packtool, "extract", "--all", "-q", "-j", str(jobs), "-d", out, archive],
                                   stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.0, whole))
            run.send_signal(signal.SIGINT)
            run.wait()
            staged, empty = leftovers(out)
            staged_total += staged
            empty_total += empty
            with_leftovers += 1 if staged or empty else 0
        print(f"-j {jobs}: {runs} runs interrupted (a whole run {whole:.2f} s): {with_leftovers} left something, "
              f"{staged_total} staged files and {empty_total} empty folders in all")
    shutil.rmtree(out, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
