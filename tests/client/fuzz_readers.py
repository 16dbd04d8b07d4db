#!/usr/bin/env python3
"""Mutation run over the measured-data readers, through vesk1_client data as a user runs it.

Each file is one of the seed soundings (EDI with impedance, apparent resistivity and phase or
spectra sections, CSV with a status column) changed one to four times: a byte flipped, a line cut
or doubled or two swapped, the file cut short, a number made huge, tiny, zero, negative or not
finite, a count made impossible, line ends or a byte-order mark changed. Each is read with a few
of the reader's options. Every run must end with exit status 0 or 2 within the time limit, and
print no nan or inf: not on standard output, not in the summary, not in a message (where text
the file holds is quoted or echoed as KEY=VALUE, and so left out of the check).

    python3 tests/client/fuzz_readers.py CLIENT [--spectra EDI] [--files N] [--seed S] [--keep DIR]

--spectra names a spectra file to take as one more seed (the build writes one with
tests/mt/cross_powers/make_cross_powers.py).

Exits 1 and names each failing file (kept in DIR, or a temporary folder) and its command line.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

SEEDS = {
    "impedance.edi": open(os.path.join(ROOT, "examples", "measured_site.edi"), "rb").read(),
    "rhophase.edi": b""">HEAD
  EMPTY=1.0E32
>FREQ NFREQ=4 //4
  100 10 1 0.1
>RHOROT //4
  0 0 0 0
>RHOXY //4
  10 20 30 1.0E32
>RHOXY.ERR //4
  1 2 3 4
>PHSXY //4
  45 50 -20 60
>PHSXY.ERR //4
  1 1 1 1
>RHOYX //4
  15 25 35 45
>PHSYX //4
  -135 -130 -125 -120
>TXR.EXP //4
  0.1 0.1 0.1 0.1
>END
""",
    "status.csv": b"""period_s,apparent_resistivity_ohm_m,apparent_resistivity_error_ohm_m,phase_deg,phase_error_deg,status
0.01,100,5,45,2,used
0.1,90,4.5,47,2,used
1,,,,,missing
10,50,2.5,-10,2,out-of-quadrant
100,40,2,40,2,excluded
1000,30,1.5,35,2,used
""",
}

WORDS = [b"inf", b"-inf", b"INF", b"Infinity", b"nan", b"NaN", b"1e400", b"-1e400", b"1e-320",
         b"4.9e-324", b"0", b"-0", b"1e200", b"-1e200", b"-1", b"1e30", b"1e31", b"9e307",
         b"1.0E32", b"1e-30", b"361", b"abc", b"", b"0x1p-1070"]
COUNTS = [b"//999999999", b"//-3", b"// 0", b"//1e7", b"//49", b"//5", b"// 6", b"//", b"//x"]
OPTIONS = [[], ["--component", "xy"], ["--component", "yx"], ["--component", "mean"],
           ["--rotate", "33"], ["--periods", "0.01:100"], ["--exclude-periods", "0.1:1,5:20"],
           ["--drop-out-of-quadrant"], ["--static-shift", "1000"], ["--rho-floor", "1"],
           ["--phase-floor", "90"], ["--error-floor", "0"]]
NUMBER = re.compile(rb"[-+]?(\d+\.?\d*|\.\d+)([EeDd][-+]?\d+)?")
NOT_FINITE = re.compile(r"\b(nan|inf|infinity)\b", re.IGNORECASE)
ECHOED = re.compile(r'"[^"\n]*"|[A-Za-z]+=\S*')


def mutate(rng, data):
    lines = data.split(b"\n")
    kind = rng.randrange(10)
    if kind == 0 and data:
        at = rng.randrange(len(data))
        return data[:at] + bytes([rng.randrange(256)]) + data[at + 1:]
    if kind == 1 and len(lines) > 1:
        del lines[rng.randrange(len(lines))]
    elif kind == 2 and lines:
        at = rng.randrange(len(lines))
        lines.insert(at, lines[at])
    elif kind == 3 and len(lines) > 1:
        a, b = rng.randrange(len(lines)), rng.randrange(len(lines))
        lines[a], lines[b] = lines[b], lines[a]
    elif kind == 4:
        return data[:rng.randrange(len(data) + 1)]
    elif kind in (5, 6, 7):
        numbers = list(NUMBER.finditer(data))
        if numbers:
            m = rng.choice(numbers)
            return data[:m.start()] + rng.choice(WORDS) + data[m.end():]
    elif kind == 8:
        counts = list(re.finditer(rb"//\s*\d+|NCHAN=\d+|NFREQ=\d+", data))
        if counts:
            m = rng.choice(counts)
            new = rng.choice(COUNTS) if m.group().startswith(b"//") else (
                m.group().split(b"=")[0] + b"=" + rng.choice([b"1000", b"3", b"6", b"8", b"x"]))
            return data[:m.start()] + new + data[m.end():]
    else:
        return rng.choice([b"\xef\xbb\xbf" + data, data.replace(b"\n", b"\r\n"),
                           data.replace(b"\n", b"\r"), data.replace(b" ", b"\t")])
    return b"\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("client")
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20)
    parser.add_argument("--keep")
    parser.add_argument("--spectra")
    args = parser.parse_args()
    if args.spectra:
        with open(args.spectra, "rb") as f:
            SEEDS["spectra.edi"] = f.read()
    rng = random.Random(args.seed)
    folder = args.keep or tempfile.mkdtemp(prefix="vesk1-fuzz-")
    os.makedirs(folder, exist_ok=True)
    failures, statuses = [], {}
    for n in range(args.files):
        seed_name = rng.choice(sorted(SEEDS))
        data = SEEDS[seed_name]
        for _ in range(rng.randint(1, 4)):
            data = mutate(rng, data)
        path = os.path.join(folder, f"{n:05d}-{seed_name}")
        with open(path, "wb") as out:
            out.write(data)
        options = [word for _ in range(rng.randint(0, 2)) for word in rng.choice(OPTIONS)]
        if rng.random() < 0.5:
            options += ["--csv", "-"]
        command = [args.client, "data"] + options + [path]
        try:
            run = subprocess.run(command, capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            failures.append(f"{path}: no end within 30 s: {' '.join(command)}")
            continue
        statuses[run.returncode] = statuses.get(run.returncode, 0) + 1
        out = run.stdout.decode("utf-8", "replace")
        err = run.stderr.decode("utf-8", "replace").replace(path, "FILE")
        if run.returncode not in (0, 2):
            failures.append(f"{path}: exit status {run.returncode}: {' '.join(command)}\n{err}")
        elif NOT_FINITE.search(out) or NOT_FINITE.search(ECHOED.sub("", err)):
            failures.append(f"{path}: nan or inf printed: {' '.join(command)}\n{out}{err}")
        elif not args.keep:
            os.remove(path)
    for failure in failures:
        print(failure)
    print(f"fuzz_readers: {args.files} files, exit statuses {dict(sorted(statuses.items()))}, "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
