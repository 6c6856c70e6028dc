#!/usr/bin/python3
"""check_links.py SOURCE DEST.pst: the links to special folders, read through libpff (pypff).

Every link of the source's store object (outbox, trash, sent mail) and root folder (calendar,
contacts, journal, notes, tasks, drafts, the additional folders) that names a folder of the
source's IPM subtree must name, in the PST, the folder at the same path; no link of the PST may
name any other folder. The trash is the only top folder named "Deleted Items" unless the source
has one. Prints one line per fault; exit 0 when there is none, 2 when pypff is missing.
"""
import struct
import sys

try:
    import pypff
except ImportError:
    sys.exit(2)

STORE_LINKS = (0x35E2, 0x35E3, 0x35E4)
ROOT_LINKS = tuple(range(0x36D0, 0x36DA)) + (0x36E4,)


def entries(item):
    try:
        for record_set in item.record_sets:
            return {e.entry_type: e.data for e in record_set.entries if e.data is not None}
    except (IOError, OSError):
        pass
    return {}


def ids_in(value):
    """The 24-byte entry ids of a binary or multiple-binary value."""
    if len(value) == 24:
        return [value]
    out = []
    if len(value) >= 4:
        count = struct.unpack_from('<I', value)[0]
        if 0 < count < 64 and len(value) >= 4 + 8 * count:
            for i in range(count):
                size, offset = struct.unpack_from('<II', value, 4 + 8 * i)
                out.append(value[offset:offset + size] if size == 24 else b'')
    return out


class Store:
    def __init__(self, path):
        self.file = pypff.file()
        self.file.open(path)
        store = entries(self.file.get_message_store())
        self.key = store.get(0x0FF9)
        self.paths = {}
        self.walk(self.file.get_root_folder(), None)
        subtree = store.get(0x35E0)
        self.subtree = struct.unpack_from('<I', subtree, 20)[0] if subtree and len(subtree) == 24 else None
        if self.subtree is None:  # today's offline stores name it instead
            self.subtree = next((nid for nid, (parent, name) in self.paths.items() if name == 'IPM_SUBTREE'), None)
        self.store = store
        self.root = entries(self.file.get_root_folder())

    def walk(self, folder, parent):
        self.paths[folder.identifier] = (parent, folder.name or '')
        for i in range(folder.number_of_sub_folders):
            self.walk(folder.get_sub_folder(i), folder.identifier)

    def ipm_path(self, nid):
        parts = []
        while nid in self.paths and nid != self.subtree:
            parent, name = self.paths[nid]
            parts.append(name)
            nid = parent
        return '/'.join(reversed(parts)) if nid == self.subtree else None

    def links(self):
        """(owner, property, position) -> path, for links naming a folder of the subtree."""
        out = {}
        for owner, props, ids in (('store', self.store, STORE_LINKS), ('root', self.root, ROOT_LINKS)):
            for prop in ids:
                for position, eid in enumerate(ids_in(props.get(prop, b''))):
                    if len(eid) != 24 or eid[4:20] != self.key:
                        continue
                    out[(owner, '0x%04X' % prop, position)] = self.ipm_path(struct.unpack_from('<I', eid, 20)[0])
        return out

    def sent_mail_links(self):
        """The folders the messages' PR_SENTMAIL_ENTRYID (0x0E0A) name: path -> count."""
        out = {}
        def walk(folder):
            for i in range(folder.number_of_sub_messages):
                try:
                    eid = entries(folder.get_sub_message(i)).get(0x0E0A, b'')
                except (IOError, OSError):
                    continue
                if len(eid) == 24:
                    path = self.ipm_path(struct.unpack_from('<I', eid, 20)[0]) if eid[4:20] == self.key else '(another store)'
                    out[path] = out.get(path, 0) + 1
            for i in range(folder.number_of_sub_folders):
                walk(folder.get_sub_folder(i))
        walk(self.file.get_root_folder())
        return out

    def top_names(self):
        return [name for parent, name in self.paths.values() if parent == self.subtree]


def main():
    source, dest = Store(sys.argv[1]), Store(sys.argv[2])
    faults = []
    want, got = source.links(), dest.links()
    for link, path in sorted(want.items()):
        if path is not None and got.get(link) != path:
            faults.append('%s %s[%d]: source names "%s", the PST %s' %
                          (link[0], link[1], link[2], path, '"%s"' % got[link] if link in got else 'nothing'))
    # A link the source lacks is the PST's own (a store always has its trash); one the source
    # has must not name another folder.
    for link, path in sorted(got.items()):
        if want.get(link) is not None and want[link] != path:
            faults.append('%s %s[%d]: the PST names "%s", the source "%s"' % (link[0], link[1], link[2], path, want[link]))
    # A message's link to its sent-mail folder names, in the PST, a folder the source's names.
    source_sent = source.sent_mail_links()
    for path, count in dest.sent_mail_links().items():
        if path is None or path not in source_sent:
            faults.append('%d messages link their sent mail folder to %s, which no source message names' %
                          (count, '"%s"' % path if path is not None else 'an object outside the mailbox'))
    # (libpff lists no folders below the subtree of today's offline stores: nothing to count.)
    source_top = source.top_names()
    if source_top and dest.top_names().count('Deleted Items') > source_top.count('Deleted Items'):
        faults.append('a second "Deleted Items" beside the source\'s trash')
    for line in sorted(set(faults)):
        print(line)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
