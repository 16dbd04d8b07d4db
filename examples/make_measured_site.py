#!/usr/bin/env python3
"""Writes examples/measured_site.edi: the sounding of a known layered earth as an EDI file of
impedance sections, with noise as a field survey would have it.

Reads on standard input the CSV that `vesk1_client sounding --csv -` prints for the true model
(period_s, apparent_resistivity_ohm_m, phase_deg) and writes the EDI on standard output.

For every period the one-dimensional impedance is Z = sqrt(rho_a / (0.2 T)) exp(i phase) in
field units, (mV/km)/nT; the tensor of a layered earth has Zxy = Z, Zyx = -Z and no diagonal.
Each of the four components then receives complex Gaussian noise of 3% of |Z| (fixed seed, so
the file is reproducible), and the variances .VAR say so: (0.03 |Z|)^2. One frequency is
written as missing (EMPTY), as a rejected band would be. The frequencies come in descending
order and the values wrap six to a line, as acquisition systems write them.
"""
import cmath
import csv
import math
import random
import sys

NOISE = 0.03
EMPTY = 1.0e32
MISSING_INDEX = 27  # one band left empty


def main():
    rows = list(csv.DictReader(sys.stdin))
    points = [(float(r["period_s"]), float(r["apparent_resistivity_ohm_m"]),
               float(r["phase_deg"])) for r in rows]
    points.sort(key=lambda p: p[0])  # by period, i.e. descending frequency
    rng = random.Random(14)
    freqs, comps, variances = [], {k: [] for k in ("XX", "XY", "YX", "YY")}, {}
    for k in comps:
        variances[k] = []
    for index, (period, rho, phase) in enumerate(points):
        z = math.sqrt(rho / (0.2 * period)) * cmath.exp(1j * math.radians(phase))
        sd = NOISE * abs(z)
        freqs.append(1.0 / period)
        tensor = {"XX": 0j, "XY": z, "YX": -z, "YY": 0j}
        for k, value in tensor.items():
            noisy = value + complex(rng.gauss(0, sd / math.sqrt(2)), rng.gauss(0, sd / math.sqrt(2)))
            if index == MISSING_INDEX:
                noisy = complex(EMPTY, EMPTY)
            comps[k].append(noisy)
            variances[k].append(EMPTY if index == MISSING_INDEX else sd * sd)

    out = sys.stdout
    n = len(freqs)

    def block(header, values):
        out.write(f"{header} //{n}\n")
        for i in range(0, n, 6):
            out.write("".join(f"{v:14.6E}" for v in values[i:i + 6]) + "\n")

    out.write(">HEAD\n  DATAID=\"VESK1-EXAMPLE\"\n  ACQBY=\"vesk1\"\n  FILEBY=\"make_measured_site.py\"\n"
              "  ACQDATE=2026-12-09\n  LAT=+00:00:00.0\n  LONG=+000:00:00.0\n  ELEV=0\n"
              "  STDVERS=\"SEG 1.0\"\n  PROGVERS=\"1\"\n  EMPTY=1.0E32\n\n")
    out.write(">INFO MAXINFO=999\n  Synthetic sounding of examples/three_layer_earth.txt with 3% noise;\n"
              "  see examples/README.md.\n\n")
    out.write(">=DEFINEMEAS\n  MAXCHAN=5\n  MAXRUN=999\n  MAXMEAS=9999\n  UNITS=M\n  REFTYPE=CART\n\n")
    for ident, kind, azm in (("1001.001", "HX", 0), ("1002.001", "HY", 90), ("1003.001", "HZ", 0)):
        out.write(f">HMEAS ID={ident} CHTYPE={kind} X=0. Y=0. AZM={azm}.\n")
    out.write(">EMEAS ID=1004.001 CHTYPE=EX X=-50. Y=0. X2=50. Y2=0.\n")
    out.write(">EMEAS ID=1005.001 CHTYPE=EY X=0. Y=-50. X2=0. Y2=50.\n\n")
    out.write(f">=MTSECT\n  SECTID=\"VESK1-EXAMPLE\"\n  NFREQ={n}\n  HX=1001.001\n  HY=1002.001\n"
              "  HZ=1003.001\n  EX=1004.001\n  EY=1005.001\n\n")
    out.write(">!****FREQUENCIES****!\n")
    block(">FREQ ORDER=DEC", freqs)
    out.write(">!****IMPEDANCE ROTATION ANGLES****!\n")
    block(">ZROT", [0.0] * n)
    out.write(">!****IMPEDANCES****!\n")
    for k in ("XX", "XY", "YX", "YY"):
        block(f">Z{k}R ROT=ZROT", [c.real for c in comps[k]])
        block(f">Z{k}I ROT=ZROT", [c.imag for c in comps[k]])
        block(f">Z{k}.VAR ROT=ZROT", variances[k])
    out.write(">END\n")


if __name__ == "__main__":
    main()
