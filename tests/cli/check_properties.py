#!/usr/bin/python3
"""Checks the property-by-property comparisons of converted stores (the --json files of
../shared/tools/compare-properties) against what a faithful copy must give, and prints the
figures per scope and class. Prints each shortfall and exits 1 when there is any.

Usage: check_properties.py RUN.json...

What is required:
- every message of the mailbox paired with one in the PST;
- every folder of the mailbox (below its top) present, with as many items and as many hidden
  items as in the source;
- for every scope (message, recipient, attachment, embedded message, hidden item, folder) and
  class, at least 99% of the values the source has equal in the PST, among the properties a
  reader sees and the others, leaving out what a store computes for itself (the tool's
  internal list: entry ids, keys, sizes, counts, row ids).

What is left out, and why:
- folders outside the mailbox (the source's own root, search root, finder, common views,
  free/busy data: "ROOT:" and "NON:" in the tool's keys) and what they hold: a store makes
  its own, and those of the source describe the source (its searches, its server's free/busy
  cache, views of its own folders by their entry ids);
- the top of the mailbox itself (scope "folder", class "(none)", key "IPM:"): it is the PST's
  root, named by the store as the store is named, and its properties are the store's own;
- the folders' links to the special folders (0x36D0-0x36D9, 0x36E4), and the messages' links
  to other objects of the store (a distribution list's members and the checksum kept of them,
  a contact's reference to itself): they are rewritten to name the PST's objects, or dropped
  when they name none, so their bytes differ by design; check_links.py checks what they
  resolve to.
"""
import collections
import json
import sys

REQUIRED = 99.0
OUTSIDE = ('ROOT', 'NON:')


# Members, their checksum, and the reference entry id.
ITEM_LINKS = ('N:Address:0x8055', 'N:Address:0x804C', 'N:Common:0x85BD')


def is_folder_link(tag):
    try:
        value = int(str(tag), 16)
    except ValueError:
        return False  # a named property
    return 0x36D0 <= value <= 0x36D9 or value == 0x36E4


def inside(folder_key):
    return not folder_key.startswith(OUTSIDE)


def main():
    runs = [json.load(open(p)) for p in sys.argv[1:]]
    problems = []
    # scope, class -> [present, equal] for non-internal properties
    totals = collections.defaultdict(lambda: [0, 0])
    for run in runs:
        label = run['label']
        for folder in run['folders']:
            key = folder['key']
            if not inside(key):
                continue
            if folder.get('present') == 'dst-only':
                continue  # a folder every store has (its own Deleted Items, say)
            if folder.get('present') is not True:
                problems.append('%s: folder %s missing from the PST' % (label, key))
                continue
            for side in ('rows', 'assoc'):
                if folder.get('src_' + side) != folder.get('dst_' + side):
                    problems.append('%s: folder %s holds %s %s in the source, %s in the PST' %
                                    (label, key, folder.get('src_' + side), side, folder.get('dst_' + side)))
        for row in run['unpaired_src']:
            folder = row.get('folder', '') if isinstance(row, dict) else row[0]
            if inside(str(folder)):
                problems.append('%s: a message of the source has no match in the PST: %s' % (label, row))
        for scope, cls, tag, name, category, present, equal, *_ in run['table']:
            if category == 'internal':
                continue
            if scope == 'folder' and cls == '(none)':
                continue  # the top of the mailbox, see above
            if (scope == 'folder' and is_folder_link(tag)) or tag in ITEM_LINKS:
                continue  # rewritten links, see above
            totals[(scope, cls)][0] += present
            totals[(scope, cls)][1] += equal
    for (scope, cls), (present, equal) in sorted(totals.items()):
        share = 100.0 * equal / present if present else 100.0
        print('%-20s %-40s %7d %7d %6.2f%%' % (scope, cls, present, equal, share))
        if share < REQUIRED:
            problems.append('%s %s: %.2f%% of the source values equal in the PST' % (scope, cls, share))
    for p in problems:
        print('PROBLEM ' + p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
