#!/usr/bin/python3
"""Checks that the items other than mail arrive in the PST made from a source, from the two
canonical dumps: tasks, appointments, journal entries and notes in the folder of the same name
path, each with its subject and body, appointments by folder; contacts and distribution lists as contacts below
Contacts. Prints what is missing and exits 1, else exits 0."""
import collections
import json
import sys


def load(path):
    with open(path, encoding='utf-8') as f:
        return [r for r in map(json.loads, filter(str.strip, f)) if r.get('ipm_folder') is not None]


def main():
    src, pst = load(sys.argv[1]), load(sys.argv[2])
    problems = []
    for prefix in ('IPM.Task', 'IPM.Activity', 'IPM.StickyNote'):
        want = collections.Counter((r['ipm_folder'], r['subject'], r['body_sha256'])
                                   for r in src if r['class'] == prefix)
        have = collections.Counter((r['ipm_folder'], r['subject'], r['body_sha256'])
                                   for r in pst if r['class'] == prefix)
        for key, n in (want - have).items():
            problems.append('%s missing: %s x%d' % (prefix, key, n))
    # An appointment takes its conversation topic as subject and its text A as body, which
    # need not be what a reader shows: count them by folder.
    want = collections.Counter(r['ipm_folder'] for r in src if r['class'] == 'IPM.Appointment')
    have = collections.Counter(r['ipm_folder'] for r in pst if r['class'] == 'IPM.Appointment')
    for key, n in (want - have).items():
        problems.append('appointment missing: %s x%d' % (key, n))
    contacts = sum(1 for r in src if r['class'] in ('IPM.Contact', 'IPM.DistList'))
    made = sum(1 for r in pst if r['class'] == 'IPM.Contact' and r['ipm_folder'].split('/')[0] == 'Contacts')
    if made < contacts:
        problems.append('contacts: %d in the source, %d below Contacts in the PST' % (contacts, made))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
