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
# calendar entry (the node id the item has in that file), its time stamp (the export's) and the
# name of the calendar file it attaches to a meeting request (a number drawn at random).
MADE_UP = [(re.compile(rb'boundary-LibPST-iamunique-[0-9]+_-_-'), b'boundary-LibPST'),
           (re.compile(rb'^UID:0x[0-9a-f]+', re.M), b'UID:'),
           (re.compile(rb'^DTSTAMP:[0-9TZ]+', re.M), b'DTSTAMP:'),
           (re.compile(rb'\bi[0-9]+\.ics\b'), b'i.ics')]


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
    # readpst now and then exports a message with bytes of its own memory in it (a body cut
    # short, a stray character in an address), differently from run to run. So each side is
    # exported three times: a message of the source is held to its copy only where readpst
    # exports it the same every time, and the copy's is found in any of its three exports.
    runs = 3
    sources = [export(source, os.path.join(work, 'source%d' % i)) for i in range(runs)]
    copies = [export(pst, os.path.join(work, 'pst%d' % i)) for i in range(runs)]
    problems = []
    for folder in sorted(set().union(*sources, *copies)):
        stable = sources[0][folder]
        for other in sources[1:]:
            stable = stable & other[folder]
        found = collections.Counter()
        for other in copies:
            found = found | other[folder]
        for text in stable - found:
            problems.append('%s: differs or missing: %s | %s' % (folder, header(text, b'Subject'), header(text, b'Message-ID')))
            near = [t for t in found if header(t, b'Subject') == header(text, b'Subject')]
            if near:
                a, b = text.split(b'\n'), near[0].split(b'\n')
                for i, (x, y) in enumerate(zip(a, b)):
                    if x != y:
                        problems.append('  first difference at line %d: %r | %r' % (i + 1, x[:120], y[:120]))
                        break
        # A message of the copy that no export of the source has at all.
        everywhere = collections.Counter()
        for other in sources:
            everywhere = everywhere | other[folder]
        subjects = collections.Counter(header(t, b'Subject') for t in everywhere.elements())
        for text in found:
            if subjects[header(text, b'Subject')] == 0:
                problems.append('%s: only in the PST: %s' % (folder, header(text, b'Subject')))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
