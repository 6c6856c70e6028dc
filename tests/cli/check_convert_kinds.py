#!/usr/bin/python3
"""Checks that the items other than mail arrive in the PST made from a source, from the two
canonical dumps: tasks, journal entries and notes in the folder of the same path, each with
its subject (a note: its text) and body; appointments in their folder; contacts and
distribution lists (each keeping its own class) in their own folder of contacts or below Contacts; and the attachments of all of these. Prints what is missing and exits 1, else 0."""
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
        # A note is given only its text; the store titles it by the text, as Outlook does.
        key = ((lambda r: (r['ipm_folder'], r['body_sha256'])) if prefix == 'IPM.StickyNote'
               else (lambda r: (r['ipm_folder'], r['subject'], r['body_sha256'])))
        want = collections.Counter(key(r) for r in src if r['class'] == prefix)
        have = collections.Counter(key(r) for r in pst if r['class'] == prefix)
        for key, n in (want - have).items():
            problems.append('%s missing: %s x%d' % (prefix, key, n))
    # An appointment takes its conversation topic as subject and its text A as body, which
    # need not be what a reader shows: count them by folder.
    want = collections.Counter(r['ipm_folder'] for r in src if r['class'] == 'IPM.Appointment')
    have = collections.Counter(r['ipm_folder'] for r in pst if r['class'] == 'IPM.Appointment')
    for key, n in (want - have).items():
        problems.append('appointment missing: %s x%d' % (key, n))
    contacts = sum(1 for r in src if r['class'] in ('IPM.Contact', 'IPM.DistList'))
    # A contact stays in the folder of contacts the source kept it in, whatever its name, or
    # goes below Contacts.
    source_folders = {r['ipm_folder'] for r in src if r['class'] in ('IPM.Contact', 'IPM.DistList')}
    made = sum(1 for r in pst if r['class'] in ('IPM.Contact', 'IPM.DistList') and
               (r['ipm_folder'].split('/')[0] == 'Contacts' or r['ipm_folder'] in source_folders))
    if made < contacts:
        problems.append('contacts: %d in the source, %d in their folder or below Contacts in the PST' % (contacts, made))
    # Their attachments come along: files by content, attached messages by count.
    def attachments(rows, classes):
        found = collections.Counter()
        for r in rows:
            if r['class'] in classes:
                for a in r.get('attachments') or []:
                    found[(a.get('method'), a.get('sha256'), a.get('size'))] += 1
        return found
    for want_classes, have_classes in ((('IPM.Appointment',), ('IPM.Appointment',)),
                                       (('IPM.Contact', 'IPM.DistList'), ('IPM.Contact', 'IPM.DistList')),
                                       (('IPM.Task',), ('IPM.Task',)), (('IPM.Activity',), ('IPM.Activity',)),
                                       (('IPM.StickyNote',), ('IPM.StickyNote',))):
        for key, n in (attachments(src, want_classes) - attachments(pst, have_classes)).items():
            problems.append('%s attachment missing: %s x%d' % (want_classes[0], key, n))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
