#!/usr/bin/env python3
"""Checks that the recurring appointments of a source expand, in its iCalendar export, to the
occurrences their recurrence blobs say.

check_recurrence.py SOURCE EXPORT_DIR

The blobs are read through libpff (pypff), found by their own signature, and decoded here
independently of the program: the pattern gives the series' starts (checked against the count
of occurrences the blob itself states for a series that ends), less the deleted instances,
with each changed instance at its new start. The export's series (the VEVENT with an RRULE and
that first start) is expanded with dateutil's rrule, less its EXDATEs, with its RECURRENCE-ID
components in place of the instances they change. Prints one line per difference and a summary;
exit status 0 when there is none.
"""
import datetime
import glob
import os
import struct
import sys

import icalendar
import pypff
from dateutil import rrule

EPOCH = datetime.datetime(1601, 1, 1)
NEVER_ENDING_SHOWN = 60  # occurrences compared of a series without an end


def minutes(value):
    return EPOCH + datetime.timedelta(minutes=value)


def parse_blob(d):
    """The pattern, its end and its instances of an appointment recurrence blob; None otherwise."""
    at = 0

    def take(fmt):
        nonlocal at
        values = struct.unpack_from("<" + fmt, d, at)
        at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    try:
        _, _, freq, ptype, _, _, period, _ = take("HHHHHIII")
        p = {"freq": freq, "type": ptype, "period": period, "days": 0, "nth": 0, "dom": 0}
        if ptype == 1:
            p["days"] = take("I")
        elif ptype in (2, 4):
            p["dom"] = take("I")
        elif ptype == 3:
            p["days"], p["nth"] = take("II")
        elif ptype != 0:
            return None  # the Hijri calendar's: no rule of iCalendar's
        p["end_type"], p["count"], p["wkst"] = take("III")
        p["deleted"] = [take("I") for _ in range(take("I"))]
        p["modified"] = [take("I") for _ in range(take("I"))]
        p["start"], p["end"] = take("II")
        reader2, _, p["start_offset"], p["end_offset"] = take("IIII")
        if reader2 != 0x3006:
            return None
        p["changed"] = []
        for _ in range(take("H")):
            start, _, original, flags = take("IIIH")
            for bit, size in ((1, None), (2, 4), (4, 4), (8, 4), (0x10, None), (0x20, 4), (0x40, 4), (0x80, 4), (0x100, 4)):
                if flags & bit:
                    at += 2 + take("HH")[1] if size is None else size
            p["changed"].append((original, start))
        return p
    except struct.error:
        return None


WEEKDAYS = [rrule.SU, rrule.MO, rrule.TU, rrule.WE, rrule.TH, rrule.FR, rrule.SA]


def blob_starts(p):
    """The starts the blob's pattern makes (before deletions), as naive local times."""
    first = minutes(p["start"] + p["start_offset"])
    days = [WEEKDAYS[i] for i in range(7) if p["days"] & (1 << i)]
    kw = {"dtstart": first, "wkst": WEEKDAYS[p["wkst"] % 7]}
    if p["end_type"] == 0x2022:
        kw["count"] = p["count"]
    elif p["end_type"] == 0x2021:
        kw["until"] = minutes(p["end"] + p["start_offset"])
    months = p["period"] // 12 if p["freq"] == 0x200D else p["period"]
    if p["freq"] == 0x200A and p["type"] == 0:
        rule = rrule.rrule(rrule.DAILY, interval=max(1, p["period"] // 1440), **kw)
    elif p["type"] == 1:
        rule = rrule.rrule(rrule.WEEKLY, interval=1 if p["freq"] == 0x200A else max(1, p["period"]), byweekday=days, **kw)
    else:
        freq = rrule.YEARLY if p["freq"] == 0x200D else rrule.MONTHLY
        extra = {"bymonth": first.month} if p["freq"] == 0x200D else {}
        if p["type"] == 2:
            extra["bymonthday"] = p["dom"]
        elif p["type"] == 3:
            extra["byweekday"], extra["bysetpos"] = days, (-1 if p["nth"] == 5 else p["nth"])
        else:
            extra["bymonthday"] = -1
        rule = rrule.rrule(freq, interval=max(1, months), **extra, **kw)
    return list(rule if "count" in kw or "until" in kw else rule.xafter(first - datetime.timedelta(seconds=1), NEVER_ENDING_SHOWN, inc=True))


def expected(p):
    starts = blob_starts(p)
    if p["end_type"] in (0x2021, 0x2022) and len(starts) != p["count"]:
        return None, f"the blob's pattern makes {len(starts)} occurrences, it says {p['count']}"
    changed_days = {original - original % 1440 for original, _ in p["changed"]}
    gone = {minutes(day).date() for day in p["deleted"]}
    kept = {s for s in starts if s.date() not in gone}
    kept |= {minutes(new) for original, new in p["changed"]}
    return kept, None


def source_blobs(path):
    f = pypff.file()
    f.open(path)
    found = []

    def walk(folder):
        for i in range(folder.number_of_sub_messages):
            m = folder.get_sub_message(i)
            for r in range(m.number_of_record_sets):
                rs = m.get_record_set(r)
                for j in range(rs.number_of_entries):
                    e = rs.get_entry(j)
                    d = e.data
                    if e.value_type == 0x102 and d and d[:4] == b"\x04\x30\x04\x30" and d[4:6] in (
                            b"\x0a\x20", b"\x0b\x20", b"\x0c\x20", b"\x0d\x20"):
                        p = parse_blob(d)
                        if p:
                            found.append((m.subject, p))
        for i in range(folder.number_of_sub_folders):
            walk(folder.get_sub_folder(i))

    walk(f.get_root_folder())
    return found


def naive(value):
    if isinstance(value, datetime.datetime):
        return value.replace(tzinfo=None)
    return datetime.datetime(value.year, value.month, value.day)


def standard_offsets(calendar):
    """TZID -> the zone's standard offset, for an UNTIL given in UTC."""
    out = {}
    for zone in calendar.walk("VTIMEZONE"):
        for part in zone.walk("STANDARD"):
            out[str(zone["TZID"])] = part["TZOFFSETTO"].td
    return out


def export_series(top):
    """(first start, occurrences) of every recurring series in the export's .ics files."""
    series = []
    for path in glob.glob(os.path.join(glob.escape(top), "**", "*.ics"), recursive=True):
        with open(path, "rb") as f:
            calendar = icalendar.Calendar.from_ical(f.read())
        offsets = standard_offsets(calendar)
        events = calendar.walk("VEVENT")
        overrides = {}
        for e in events:
            if "RECURRENCE-ID" in e:
                overrides.setdefault(str(e["UID"]), {})[naive(e["RECURRENCE-ID"].dt)] = naive(e["DTSTART"].dt)
        for e in events:
            if "RRULE" not in e or "RECURRENCE-ID" in e:
                continue
            start = naive(e["DTSTART"].dt)
            rule_text = e["RRULE"].to_ical().decode()
            parts = dict(x.split("=", 1) for x in rule_text.split(";"))
            if "UNTIL" in parts and parts["UNTIL"].endswith("Z"):
                # The bound is in UTC: back to the series' local time by its zone's standard offset.
                utc = datetime.datetime.strptime(parts["UNTIL"], "%Y%m%dT%H%M%SZ")
                offset = offsets.get(str(e["DTSTART"].params.get("TZID", "")), datetime.timedelta(0))
                parts["UNTIL"] = (utc + offset).strftime("%Y%m%dT%H%M%S")
                rule_text = ";".join(f"{k}={v}" for k, v in parts.items())
            rule = rrule.rrulestr(rule_text, dtstart=start)
            starts = list(rule) if ("COUNT" in parts or "UNTIL" in parts) else \
                list(rule.xafter(start - datetime.timedelta(seconds=1), NEVER_ENDING_SHOWN, inc=True))
            excluded = set()
            for ex in (e.get("EXDATE") or []) if isinstance(e.get("EXDATE"), list) else [e.get("EXDATE")] if e.get("EXDATE") else []:
                excluded |= {naive(d.dt) for d in ex.dts}
            moved = overrides.get(str(e["UID"]), {})
            kept = {moved.get(s, s) for s in starts if s not in excluded}
            series.append((start, kept, str(e.get("SUMMARY", ""))))
    return series


def main():
    source, top = sys.argv[1:3]
    problems, checked = [], 0
    series = export_series(top)
    for subject, p in source_blobs(source):
        checked += 1
        want, why = expected(p)
        if why:
            problems.append(f"{subject!r}: {why}")
            continue
        first = minutes(p["start"] + p["start_offset"])
        candidates = [kept for start, kept, _ in series if start in (first, minutes(p["start"]))]
        if not candidates:
            problems.append(f"{subject!r}: no series starting {first} in the export")
        elif want not in candidates:
            got = candidates[0]
            problems.append(f"{subject!r}: occurrences differ; missing {sorted(want - got)[:3]}, extra {sorted(got - want)[:3]}")
    print("\n".join(problems + [f"{checked} recurring items checked, {len(problems)} differences"]))
    return int(bool(problems))


if __name__ == "__main__":
    sys.exit(main())
