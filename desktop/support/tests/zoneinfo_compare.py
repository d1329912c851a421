#!/usr/bin/python3
"""UTC to local time by the Windows zone rules against Python's zoneinfo.

For zones whose law has been stable over a range of years, the same instants
(around every transition that zoneinfo knows in those years, and spread over
the years) are converted by om_datetool and by zoneinfo; the local wall-clock
times must agree to the millisecond. Under Wine the rules also come from
Wine's own registry zones.

usage: zoneinfo_compare.py [--runner CMD... --] om_datetool
"""
import random
import subprocess
import sys
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo

EPOCH = datetime(1970, 1, 1, tzinfo=timezone.utc)


def rule(month=0, dow=0, week=0, hour=0, minute=0):
    return [0, month, dow, week, hour, minute, 0, 0]


# name: (IANA zone, first year, last year, Bias, StdBias, DltBias, standard rule, daylight rule)
ZONES = {
    "W. Europe Standard Time": ("Europe/Berlin", 1997, 2037, -60, 0, -60, rule(10, 0, 5, 3), rule(3, 0, 5, 2)),
    "GMT Standard Time": ("Europe/London", 1997, 2037, 0, 0, -60, rule(10, 0, 5, 2), rule(3, 0, 5, 1)),
    "Eastern Standard Time": ("America/New_York", 2007, 2037, 300, 0, -60, rule(11, 0, 1, 2), rule(3, 0, 2, 2)),
    "Newfoundland Standard Time": ("America/St_Johns", 2012, 2037, 210, 0, -60, rule(11, 0, 1, 2), rule(3, 0, 2, 2)),
    "AUS Eastern Standard Time": ("Australia/Sydney", 2008, 2037, -600, 0, -60, rule(4, 0, 1, 3), rule(10, 0, 1, 2)),
    "Lord Howe Standard Time": ("Australia/Lord_Howe", 2008, 2037, -630, 0, -30, rule(4, 0, 1, 2), rule(10, 0, 1, 2)),
    "New Zealand Standard Time": ("Pacific/Auckland", 2008, 2037, -720, 0, -60, rule(4, 0, 1, 3), rule(9, 0, 5, 2)),
    "Tokyo Standard Time": ("Asia/Tokyo", 1990, 2037, -540, 0, 0, rule(), rule()),
    "India Standard Time": ("Asia/Kolkata", 1990, 2037, -330, 0, 0, rule(), rule()),
}
# Zones whose rules are also taken from Wine's registry.
REGISTRY_ZONES = ["W. Europe Standard Time", "GMT Standard Time", "Eastern Standard Time",
                  "AUS Eastern Standard Time", "New Zealand Standard Time", "Tokyo Standard Time"]


def millis(dt):
    return (dt - EPOCH) // timedelta(milliseconds=1)


def local_millis(zone, ms):
    utc = EPOCH + timedelta(milliseconds=ms)
    offset = utc.astimezone(zone).utcoffset()
    return ms + offset // timedelta(milliseconds=1)


def transitions(zone, year):
    """UTC milliseconds at which the zone's offset changes within the year."""
    found = []
    t = millis(datetime(year, 1, 1, tzinfo=timezone.utc))
    end = millis(datetime(year + 1, 1, 1, tzinfo=timezone.utc))
    step = 3600 * 1000
    off = local_millis(zone, t) - t
    while t < end:
        n = t + step
        noff = local_millis(zone, n) - n
        if noff != off:
            lo, hi = t, n
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if local_millis(zone, mid) - mid == off:
                    lo = mid
                else:
                    hi = mid
            found.append(hi)
            off = noff
        t = n
    return found


def instants(zone, first, last, rng):
    out = []
    for year in range(first, last + 1):
        for tr in transitions(zone, year):
            for d in (0, 1, -1, 1000, -1000, 3599999, -3600000, 3600000, 86400000, -86400000):
                out.append(tr + d)
        start = millis(datetime(year, 1, 1, tzinfo=timezone.utc))
        out.append(start)
        out.append(start - 1)
        for _ in range(20):
            out.append(start + rng.randrange(365 * 86400000))
    return out


def run_tool(command, args, text):
    p = subprocess.run(command + args, input=text, capture_output=True, text=True, timeout=500)
    if p.returncode != 0:
        sys.exit("om_datetool failed: %s" % p.stderr)
    return p.stdout


def main():
    args = sys.argv[1:]
    runner = []
    if args and args[0] == "--runner":
        end = args.index("--")
        runner = args[1:end + 1]
        args = args[end + 1:]
    command = runner + [args[0]]
    rng = random.Random(20261209)

    sets = []  # (label, iana, first, last, record)
    for name, (iana, first, last, bias, sb, db, std, dlt) in ZONES.items():
        sets.append(("fixed " + name, iana, first, last, [bias, sb, db] + std + dlt))
    if runner:
        dumped = run_tool(command, ["zones"] + REGISTRY_ZONES, "")
        seen = set()
        for line in dumped.splitlines():
            line = line.strip()
            if not line:
                continue
            name, record = line.split("|")
            seen.add(name)
            iana, first, last = ZONES[name][:3]
            sets.append(("registry " + name, iana, first, last, [int(v) for v in record.split()]))
        missing = set(REGISTRY_ZONES) - seen
        if missing:
            sys.exit("zones missing from the registry: %s" % sorted(missing))

    lines, expected, labels = [], [], []
    for label, iana, first, last, record in sets:
        zone = ZoneInfo(iana)
        head = " ".join(str(v) for v in record)
        for ms in instants(zone, first, last, rng):
            lines.append("%s %d" % (head, ms))
            expected.append(local_millis(zone, ms))
            labels.append((label, ms))
    got = run_tool(command, ["convert"], "\n".join(lines) + "\n").split()
    if len(got) != len(expected):
        sys.exit("expected %d answers, got %d" % (len(expected), len(got)))
    bad = 0
    for (label, ms), want, have in zip(labels, expected, got):
        if str(want) != have:
            bad += 1
            if bad <= 20:
                print("MISMATCH %s utc=%s want=%s got=%s" % (
                    label, EPOCH + timedelta(milliseconds=ms), EPOCH + timedelta(milliseconds=want),
                    have if not have.lstrip("-").isdigit() else EPOCH + timedelta(milliseconds=int(have))))
    print("%d instants in %d zone records compared, %d mismatches" % (len(expected), len(sets), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
