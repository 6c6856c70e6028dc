#!/usr/bin/python3
"""Compares what readpst exports from a source store and from the PST made from it, message for
message: every message file of each folder (paths below each export's top folder), headers and
body, as readpst writes them. Prints one line per difference and exits 1 when there is any.

Usage: compare_readpst.py SOURCE PST WORKDIR"""
import collections
import os
import re
import subprocess
import sys

# Lines readpst derives from where a message sits in its file, not from the message.
VOLATILE = ('X-libpst-forensic-',)
# Parts readpst makes up anew on each export: MIME boundaries drawn at random, the UID of a
# calendar entry (the node id the item has in that file) and its time stamp (the export's).
MADE_UP = [(re.compile(rb'boundary-LibPST-iamunique-[0-9]+_-_-'), b'boundary-LibPST'),
           (re.compile(rb'^UID:0x[0-9a-f]+', re.M), b'UID:'),
           (re.compile(rb'^DTSTAMP:[0-9TZ]+', re.M), b'DTSTAMP:')]


def export(store, out):
    os.makedirs(out, exist_ok=True)
    subprocess.run(['readpst', '-e', '-q', '-o', out, store], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    messages = collections.defaultdict(collections.Counter)
    tops = os.listdir(out)
    if len(tops) != 1:
        return messages
    top = os.path.join(out, tops[0])
    for folder, _, files in os.walk(top):
        rel = os.path.relpath(folder, top)
        for name in files:
            with open(os.path.join(folder, name), 'rb') as f:
                text = f.read()
            for pattern, replacement in MADE_UP:
                text = pattern.sub(replacement, text)
            lines = [l for l in text.split(b'\n') if not l.startswith(tuple(v.encode() for v in VOLATILE))]
            messages[rel][b'\n'.join(lines)] += 1
    return messages


def header(text, name):
    for line in text.split(b'\n'):
        if line.lower().startswith(name.lower() + b':'):
            return line.decode('utf-8', 'replace')
        if not line.strip():
            break
    return '%s: (none)' % name.decode()


def main():
    source, pst, work = sys.argv[1:4]
    want = export(source, os.path.join(work, 'source'))
    have = export(pst, os.path.join(work, 'pst'))
    problems = []
    for folder in sorted(set(want) | set(have)):
        missing = want[folder] - have[folder]
        extra = have[folder] - want[folder]
        for text in missing:
            problems.append('%s: differs or missing: %s | %s' % (folder, header(text, b'Subject'), header(text, b'Message-ID')))
        if missing and extra:
            # Name the first line that differs, for the first pair.
            a = sorted(missing)[0].split(b'\n')
            b = sorted(extra)[0].split(b'\n')
            for i, (x, y) in enumerate(zip(a, b)):
                if x != y:
                    problems.append('  first difference at line %d: %r | %r' % (i + 1, x[:120], y[:120]))
                    break
            else:
                problems.append('  one export is longer: %d | %d lines' % (len(a), len(b)))
        elif extra:
            for text in extra:
                problems.append('%s: only in the PST: %s' % (folder, header(text, b'Subject')))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
