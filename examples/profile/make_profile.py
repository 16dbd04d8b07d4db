#!/usr/bin/env python3
"""Writes the example profile of examples/profile/: twelve magnetotelluric stations along a line
over a sequence of layered earths whose conductor deepens and thins from the first station to
the last, as EDI files of impedance sections with 3 % noise, with the true earths beside them.

    python3 examples/profile/make_profile.py examples/profile

writes into the folder given:
  S01.edi ... S12.edi   one EDI file per station: LAT, LONG (degrees:minutes:seconds) and
                        ELEV in >HEAD, 40 frequencies from 1000 Hz to 1/1000 Hz, Zxy = Z and
                        Zyx = -Z of the station's earth, complex Gaussian noise of 3 % of |Z| on
                        each of the four components (fixed seed), variances (0.03 |Z|)^2; S07
                        has a dead band: four periods from about 0.85 to 2.5 s written as EMPTY
  true/S01.txt ...      the earth of each station in the --model format of vesk1_client sounding
  files.txt             the station files, one a line, for vesk1_client profile --list

Every station's earth is 100 ohm-m from the surface to the conductor's top, a 5 ohm-m conductor,
and a 1000 ohm-m basement below it. Along the line the conductor's top deepens geometrically from
400 m to 1600 m and its thickness falls from 1000 m to 250 m. The response is the impedance
recursion of a layered earth in double precision, Z = sqrt(i omega mu rho) for the basement and
upward through each layer; apparent resistivity |Z|^2 / (omega mu), in field units
Z / (4 pi 1e-4) (mV/km)/nT. The stations lie about 1 km apart on a line 62 degrees east of north,
each moved by up to 60 m along and 40 m across it (fixed seed).
"""
import cmath
import math
import os
import random
import sys

STATIONS = 12
PERIODS = 40
SHORTEST, LONGEST = 0.001, 1000.0  # seconds
HOST, CONDUCTOR, BASEMENT = 100.0, 5.0, 1000.0  # ohm-metres
TOP_FIRST, TOP_LAST = 400.0, 1600.0  # metres
THICKNESS_FIRST, THICKNESS_LAST = 1000.0, 250.0
NOISE = 0.03
EMPTY = 1.0e32
DEAD_STATION = 6  # S07
DEAD_BAND = (0.8, 2.5)  # seconds
# The line: its first station, its direction and spacing, and the scatter about it.
ORIGIN_LAT, ORIGIN_LONG, ORIGIN_ELEV = -30.52, 138.61, 420.0
AZIMUTH = 62.0
SPACING = 1000.0
ALONG_SCATTER, ACROSS_SCATTER = 60.0, 40.0
# WGS84: equatorial radius and flattening, for metres per degree at the line's latitude.
RADIUS, FLATTENING = 6378137.0, 1 / 298.257223563
MU0 = 4e-7 * math.pi


def earth(station):
    """Resistivities and thicknesses of a station's earth, top down, basement last."""
    t = station / (STATIONS - 1)
    top = TOP_FIRST * (TOP_LAST / TOP_FIRST) ** t
    thickness = THICKNESS_FIRST * (THICKNESS_LAST / THICKNESS_FIRST) ** t
    return [HOST, CONDUCTOR, BASEMENT], [top, thickness]


def impedance(period, resistivity, thickness):
    """The SI impedance (ohm) at the surface of a layered earth."""
    omega = 2 * math.pi / period
    z = cmath.sqrt(1j * omega * MU0 * resistivity[-1])
    for rho, h in zip(reversed(resistivity[:-1]), reversed(thickness)):
        intrinsic = cmath.sqrt(1j * omega * MU0 * rho)
        k = cmath.sqrt(1j * omega * MU0 / rho)
        th = cmath.tanh(k * h)
        z = intrinsic * (z + intrinsic * th) / (intrinsic + z * th)
    return z


def metres_per_degree(latitude):
    """Metres per degree of latitude and of longitude at a latitude (WGS84)."""
    e2 = FLATTENING * (2 - FLATTENING)
    s = math.sin(math.radians(latitude))
    w = math.sqrt(1 - e2 * s * s)
    meridian = RADIUS * (1 - e2) / w ** 3
    normal = RADIUS / w
    return math.radians(meridian), math.radians(normal * math.cos(math.radians(latitude)))


def dms(value, degree_digits):
    """Degrees as [-]D:MM:SS.SS, the way acquisition systems write LAT and LONG."""
    sign = "-" if value < 0 else "+"
    seconds = round(abs(value) * 3600, 2)
    d, rest = divmod(seconds, 3600)
    m, s = divmod(rest, 60)
    return f"{sign}{int(d):0{degree_digits}d}:{int(m):02d}:{s:05.2f}"


def positions():
    rng = random.Random(23)
    north_per_degree, east_per_degree = metres_per_degree(ORIGIN_LAT)
    along_east, along_north = math.sin(math.radians(AZIMUTH)), math.cos(math.radians(AZIMUTH))
    places = []
    for station in range(STATIONS):
        along = station * SPACING + rng.uniform(-ALONG_SCATTER, ALONG_SCATTER)
        across = rng.uniform(-ACROSS_SCATTER, ACROSS_SCATTER)
        east = along * along_east + across * along_north
        north = along * along_north - across * along_east
        places.append((ORIGIN_LAT + north / north_per_degree, ORIGIN_LONG + east / east_per_degree,
                       ORIGIN_ELEV + rng.uniform(-15, 15)))
    return places


def write_edi(path, name, place, resistivity, thickness, dead, rng):
    periods = [SHORTEST * (LONGEST / SHORTEST) ** (k / (PERIODS - 1)) for k in range(PERIODS)]
    freqs = [1 / p for p in periods]
    comps = {k: [] for k in ("XX", "XY", "YX", "YY")}
    variances = {k: [] for k in comps}
    for period in periods:
        z = impedance(period, resistivity, thickness) / (4 * math.pi * 1e-4)
        sd = NOISE * abs(z)
        missing = dead and DEAD_BAND[0] <= period <= DEAD_BAND[1]
        for k, value in {"XX": 0j, "XY": z, "YX": -z, "YY": 0j}.items():
            noisy = value + complex(rng.gauss(0, sd / math.sqrt(2)), rng.gauss(0, sd / math.sqrt(2)))
            comps[k].append(complex(EMPTY, EMPTY) if missing else noisy)
            variances[k].append(EMPTY if missing else sd * sd)
    n = len(freqs)
    with open(path, "w", newline="\n") as out:
        def block(header, values):
            out.write(f"{header} //{n}\n")
            for i in range(0, n, 6):
                out.write("".join(f"{v:14.6E}" for v in values[i:i + 6]) + "\n")

        lat, lon, elev = place
        out.write(f">HEAD\n  DATAID=\"{name}\"\n  ACQBY=\"vesk1\"\n  FILEBY=\"make_profile.py\"\n"
                  f"  ACQDATE=2026-12-09\n  LAT={dms(lat, 2)}\n  LONG={dms(lon, 3)}\n"
                  f"  ELEV={elev:.1f}\n  STDVERS=\"SEG 1.0\"\n  PROGVERS=\"1\"\n  EMPTY=1.0E32\n\n")
        out.write(f">INFO MAXINFO=999\n  Station {name} of the synthetic example profile with 3% "
                  "noise;\n  see examples/profile/README.md.\n\n")
        out.write(">=DEFINEMEAS\n  MAXCHAN=5\n  MAXRUN=999\n  MAXMEAS=9999\n  UNITS=M\n"
                  f"  REFTYPE=CART\n  REFLAT={dms(lat, 2)}\n  REFLONG={dms(lon, 3)}\n"
                  f"  REFELEV={elev:.1f}\n\n")
        for ident, kind, azm in (("1001.001", "HX", 0), ("1002.001", "HY", 90),
                                 ("1003.001", "HZ", 0)):
            out.write(f">HMEAS ID={ident} CHTYPE={kind} X=0. Y=0. AZM={azm}.\n")
        out.write(">EMEAS ID=1004.001 CHTYPE=EX X=-50. Y=0. X2=50. Y2=0.\n")
        out.write(">EMEAS ID=1005.001 CHTYPE=EY X=0. Y=-50. X2=0. Y2=50.\n\n")
        out.write(f">=MTSECT\n  SECTID=\"{name}\"\n  NFREQ={n}\n  HX=1001.001\n  HY=1002.001\n"
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


def write_model(path, name, resistivity, thickness):
    with open(path, "w", newline="\n") as out:
        out.write(f"# The true earth under station {name} of the example profile "
                  "(make_profile.py).\n# resistivity (ohm-m)  thickness (m); the last line is "
                  "the half-space\n")
        for rho, h in zip(resistivity, thickness):
            out.write(f"{rho:g} {h:.1f}\n")
        out.write(f"{resistivity[-1]:g}\n")


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(os.path.join(folder, "true"), exist_ok=True)
    rng = random.Random(14)
    names = []
    for station, place in enumerate(positions()):
        name = f"S{station + 1:02d}"
        resistivity, thickness = earth(station)
        write_edi(os.path.join(folder, name + ".edi"), name, place, resistivity, thickness,
                  station == DEAD_STATION, rng)
        write_model(os.path.join(folder, "true", name + ".txt"), name, resistivity, thickness)
        names.append(name + ".edi")
    with open(os.path.join(folder, "files.txt"), "w", newline="\n") as out:
        out.write("# The stations of the example profile, from the first to the last.\n")
        out.write("".join(n + "\n" for n in names))


if __name__ == "__main__":
    main()
