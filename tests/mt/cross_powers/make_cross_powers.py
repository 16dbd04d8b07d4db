#!/usr/bin/env python3
"""Writes the spectra test files that the readers' tests read, from a known layered earth.

The earth (100 ohm-m, 1000 m; 10 ohm-m, 2000 m; 1000 ohm-m below) gives a 1D impedance; the
tensor is that of a 2D earth with strike 25 degrees (Zxy = 1.3 Z1D, Zyx = -Z1D / 1.3 in strike
axes), so that its determinant is the 1D impedance. At each frequency 400 field segments are
simulated: source fields H of random polarisation, electric fields E = Z H with 5 % noise, the
local magnetic channels with 30 % noise and the remote ones with independent 30 % noise. Their
auto- and cross-powers are written as EDI >SPECTRA blocks (channels HX HY HZ EX EY RX RY).

The expected answer is converted here, independently of the reader: the remote-reference
estimate Z = <E R*> <H R*>^-1 from the same cross-powers, its determinant, apparent resistivity
and phase (remote_reference_expected.csv). With 30 % noise on the local magnetic channels the
local estimate <E H*> <H H*>^-1 lies about 16 % low in apparent resistivity, so a reader that
took the wrong channels cannot pass.

The same spectra are written with the channel list in three layouts:
  remote_reference_inline.edi   the count on the section's line: >=SPECTRASECT NCHAN=7 //7
  remote_reference_apart.edi    "// 7" on a line of its own after KEY=VALUE lines
  remote_reference_joined.edi   "//7" after KEY=VALUE lines, identifiers several to a line

    python3 tests/mt/cross_powers/make_cross_powers.py OUT_DIR   (fixed seed: the files come out
    the same; the build runs it into its own tree for the tests)
"""
import cmath
import math
import os
import random
import sys

MU0 = 4e-7 * math.pi
FIELD = 4e-4 * math.pi  # Z[ohm] = FIELD * Z[(mV/km)/nT]
LAYERS = [(100.0, 1000.0), (10.0, 2000.0), (1000.0, None)]
STRIKE = 25.0
SEGMENTS = 400
FREQUENCIES = [10 ** (3 - 0.5 * k) for k in range(15)]  # 1000 Hz to 0.0001 Hz
IDS = ["111.011", "112.011", "113.011", "114.011", "115.011", "121.011", "122.011"]
TYPES = ["HX", "HY", "HZ", "EX", "EY", "HX", "HY"]


def impedance_1d(f):
    """The impedance of the layered earth at f Hz, in field units, time factor exp(i w t)."""
    w = 2 * math.pi * f
    rho, _ = LAYERS[-1]
    z = cmath.sqrt(1j * w * MU0 * rho)
    for rho, h in reversed(LAYERS[:-1]):
        intrinsic = cmath.sqrt(1j * w * MU0 * rho)
        t = cmath.tanh(cmath.sqrt(1j * w * MU0 / rho) * h)
        z = intrinsic * (z + intrinsic * t) / (intrinsic + z * t)
    return z / FIELD


def rotate(z, degrees):
    a = math.radians(degrees)
    r = [[math.cos(a), math.sin(a)], [-math.sin(a), math.cos(a)]]
    return [[sum(r[i][k] * z[k][l] * r[j][l] for k in range(2) for l in range(2))
             for j in range(2)] for i in range(2)]


def gauss(rng, scale):
    return complex(rng.gauss(0, scale), rng.gauss(0, scale)) / math.sqrt(2)


def spectra(rng, z):
    """The 7 x 7 matrix of mean cross-powers S(i, j) = <X_i X_j*>."""
    s = [[0j] * 7 for _ in range(7)]
    for _ in range(SEGMENTS):
        h = [gauss(rng, 1.0), gauss(rng, 1.0)]
        e = [z[i][0] * h[0] + z[i][1] * h[1] for i in range(2)]
        size = abs(z[0][1]) + abs(z[1][0])
        e = [v + gauss(rng, 0.05 * size) for v in e]
        local = [v + gauss(rng, 0.3) for v in h]
        remote = [v + gauss(rng, 0.3) for v in h]
        hz = 0.2 * h[0] + gauss(rng, 0.1)
        x = [local[0], local[1], hz, e[0], e[1], remote[0], remote[1]]
        for i in range(7):
            for j in range(7):
                s[i][j] += x[i] * x[j].conjugate() / SEGMENTS
    return s


def stored(s):
    """The EDI layout: auto-powers on the diagonal, (i, j) for i < j the real part and (j, i)
    the imaginary part of S(i, j)."""
    m = [[0.0] * 7 for _ in range(7)]
    for i in range(7):
        for j in range(7):
            if i == j:
                m[i][j] = s[i][i].real
            elif i < j:
                m[i][j] = s[i][j].real
            else:
                m[i][j] = s[j][i].imag
    return m


def remote_reference(m):
    """Z = S(E, R) S(H, R)^-1, computed from the stored numbers."""
    def cross(i, j):
        if i == j:
            return complex(m[i][i], 0)
        a, b = min(i, j), max(i, j)
        v = complex(m[a][b], m[b][a])
        return v if i < j else v.conjugate()
    hr = [[cross(h, r) for r in (5, 6)] for h in (0, 1)]
    er = [[cross(e, r) for r in (5, 6)] for e in (3, 4)]
    det = hr[0][0] * hr[1][1] - hr[0][1] * hr[1][0]
    inv = [[hr[1][1] / det, -hr[0][1] / det], [-hr[1][0] / det, hr[0][0] / det]]
    return [[er[i][0] * inv[0][j] + er[i][1] * inv[1][j] for j in range(2)] for i in range(2)]


def head(layout):
    lines = [">HEAD", '  DATAID="SPECTRA1"', "  EMPTY=1.0E32", ">INFO", "  spectra of a known earth", ""]
    for i, (cid, ctype) in reversed(list(enumerate(zip(IDS, TYPES)))):
        kind = "EMEAS" if ctype.startswith("E") else "HMEAS"
        lines.append(f">{kind} ID={cid} CHTYPE={ctype} X=0 Y=0")
    lines.append("")
    count = len(FREQUENCIES)
    if layout == "inline":
        lines += [f">=SPECTRASECT NCHAN=7 NFREQ={count} //7"] + [f"  {i}" for i in IDS]
    elif layout == "apart":
        lines += [">=SPECTRASECT", '   SECTID="SITE1"', "   NCHAN=7", f"   NFREQ={count}",
                  "    // 7"] + [f"     {i}" for i in IDS]
    else:
        lines += [">=SPECTRASECT", '   SECTID="SITE1"', "   NCHAN=7", f"   NFREQ={count}",
                  "//7", "  " + " ".join(IDS[:4]), "  " + " ".join(IDS[4:])]
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_cross_powers.py OUT_DIR")
    here = sys.argv[1]
    os.makedirs(here, exist_ok=True)
    rng = random.Random(20)
    blocks, expected = [], ["frequency_hz,determinant_apparent_resistivity_ohm_m,"
                            "determinant_phase_deg"]
    for f in FREQUENCIES:
        z1 = impedance_1d(f)
        z = rotate([[0, 1.3 * z1], [-z1 / 1.3, 0]], -STRIKE)
        m = stored(spectra(rng, z))
        text = [f"%.6e" % v for row in m for v in row]
        m = [[float(text[7 * i + j]) for j in range(7)] for i in range(7)]
        rr = remote_reference(m)
        det = cmath.sqrt(rr[0][0] * rr[1][1] - rr[0][1] * rr[1][0])
        if det.real < 0:
            det = -det
        rho = 0.2 / f * abs(det) ** 2
        expected.append(f"{f:.9g},{rho:.9g},{math.degrees(cmath.phase(det)):.9g}")
        block = [f">SPECTRA FREQ={f:.6e} ROTSPEC=0 AVGT={SEGMENTS} //49"]
        block += ["  " + " ".join(text[7 * i:7 * i + 7]) for i in range(7)]
        blocks.append("\n".join(block) + "\n")
    for layout in ("inline", "apart", "joined"):
        with open(os.path.join(here, f"remote_reference_{layout}.edi"), "w", newline="\n") as out:
            out.write(head(layout) + "".join(blocks) + ">END\n")
    with open(os.path.join(here, "remote_reference_expected.csv"), "w", newline="\n") as out:
        out.write("\n".join(expected) + "\n")


if __name__ == "__main__":
    main()
