#!/usr/bin/python3
"""check_links.py SOURCE DEST.pst: the links inside the mailbox, read through libpff (pypff).

Every link of the source's store object (outbox, trash, sent mail) and root folder (calendar,
contacts, journal, notes, tasks, drafts, the additional folders) that names a folder of the
source's IPM subtree must name, in the PST, the folder at the same path; no link of the PST may
name any other folder. The trash is the only top folder named "Deleted Items" unless the source
has one.

Every entry id in a message of the PST that names an object of the PST (bare, or wrapped as a
distribution list's members and a contact-book address wrap one) must name an object that is
there, and the same object (a folder by its path; a message by its folder, class and subject) as
the same property of the same message names in the source. Every such link of the source to an
object of its mailbox must be in the PST.

Prints one line per fault; exit 0 when there is none, 2 when pypff is missing.
"""
import collections
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


WRAPPED = bytes.fromhex('c091add3519dcf11a4a900aa0047faa4')
CONTACT_BOOK = bytes.fromhex('fe42aa0a18c71a10e8850b651c240000')


def items_of(value):
    """The items of a stored multiple-binary value: a count, then each item's offset."""
    if len(value) < 4:
        return []
    count = struct.unpack_from('<I', value)[0]
    if count == 0 or len(value) < 4 + 4 * count:
        return []
    offsets = list(struct.unpack_from('<%dI' % count, value, 4)) + [len(value)]
    if any(a > b for a, b in zip(offsets, offsets[1:])):
        return []
    return [value[offsets[i]:offsets[i + 1]] for i in range(count)]


def typed_entries(item):
    try:
        for record_set in item.record_sets:
            return {e.entry_type: (e.value_type, e.data) for e in record_set.entries if e.data is not None}
    except (IOError, OSError):
        pass
    return {}


def decoded(kind, data):
    """A string value as text: 8-bit ones as Windows-1252, as the corpus test converts them."""
    return data.decode('cp1252', 'replace') if kind == 0x001E else data.decode('utf-16-le', 'replace')


def ids_in(value):
    """The 24-byte entry ids of a binary or multiple-binary value (b'' where an item is none)."""
    if len(value) == 24:
        return [value]
    return [item if len(item) == 24 else b'' for item in items_of(value)]


def inner_id(value):
    """The entry id a value carries: itself, or the one a wrapped or contact-book id holds."""
    if len(value) == 24:
        return value
    if len(value) == 45 and value[4:20] == WRAPPED:
        return value[21:]
    if len(value) == 60 and value[4:20] == CONTACT_BOOK and struct.unpack_from('<I', value, 32)[0] == 24:
        return value[36:]
    return None


def named_map(f):
    """{stored id: 'N:guid:lid or name'} from the store's map of named properties."""
    try:
        streams = {e.entry_type: e.data or b'' for e in f.name_to_id_map.record_sets[0].entries
                   if e.entry_type in (2, 3, 4)}
    except (IOError, OSError, AttributeError, IndexError):
        return {}
    guids, table = streams.get(2, b''), streams.get(3, b'')
    out = {}
    for i in range(0, len(table) - 7, 8):
        value, flags, index = struct.unpack_from('<IHH', table, i)
        g = flags >> 1
        guid = {1: 'MAPI', 2: 'PUBLIC'}.get(g) or guids[(g - 3) * 16:(g - 2) * 16].hex()
        out[0x8000 + index] = 'N:%s:%s' % (guid, ('string@%d' % value) if flags & 1 else '0x%04X' % value)
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
        self.named = named_map(self.file)
        self.messages = {}  # NID -> (folder NID, message)
        self.walk_messages(self.file.get_root_folder())

    def walk_messages(self, folder):
        for i in range(folder.number_of_sub_messages):
            try:
                message = folder.get_sub_message(i)
                self.messages[message.identifier] = (folder.identifier, message)
            except (IOError, OSError):
                continue
        for i in range(folder.number_of_sub_folders):
            self.walk_messages(folder.get_sub_folder(i))

    def folder_identity(self, nid):
        path = self.ipm_path(nid)
        if path is not None:
            return 'folder "%s"' % path
        parts = []
        while nid in self.paths and self.paths[nid][0] is not None:
            parts.append(self.paths[nid][1])
            nid = self.paths[nid][0]
        return 'folder outside the mailbox "%s"' % '/'.join(reversed(parts))

    def identity(self, nid):
        """What an object is, in words both stores share; None when the store has none by nid."""
        if nid in self.paths:
            return self.folder_identity(nid)
        if nid in self.messages:
            folder, message = self.messages[nid]
            props = typed_entries(message)
            text = lambda tag: decoded(*props.get(tag, (0x001F, b''))).rstrip('\0')
            subject = text(0x0037)
            subject = subject[2:] if subject.startswith('\x01') else subject
            return 'message %s "%s" "%s"' % (self.folder_identity(folder), text(0x001A), subject)
        return None

    def item_links(self):
        """(owner, property, position, target) of every entry id a message holds that names an
        object of this store, its links to itself aside."""
        out = collections.Counter()
        for nid, (folder, message) in self.messages.items():
            owner = self.identity(nid)
            try:
                record_sets = message.record_sets
                props = [(e.entry_type, e.value_type, e.data) for e in record_sets[0].entries] if len(record_sets) else []
            except (IOError, OSError):
                continue
            for tag, kind, data in props:
                if not data or kind not in (0x0102, 0x1102) or tag in (0x0FFF, 0x0E09):
                    continue
                name = self.named.get(tag, 'N:?') if tag >= 0x8000 else '0x%04X' % tag
                for position, item in enumerate([data] if kind == 0x0102 else items_of(data)):
                    eid = inner_id(item)
                    if eid is None or eid[4:20] != self.key:
                        continue
                    target = struct.unpack_from('<I', eid, 20)[0]
                    if target != nid:
                        out[(owner, name, position, self.identity(target))] += 1
        return out

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
    # Every entry id of a message names in the PST what the same one names in the source.
    want, got = source.item_links(), dest.item_links()
    for (owner, prop, position, target), count in sorted(got.items()):
        if target is None:
            faults.append('%s %s[%d] names nothing in the PST' % (owner, prop, position))
    # Named properties have ids of their own in each store: they are matched by name.
    for link, count in sorted((want - got).items()):
        if link[3] is not None and link[3].startswith(('message folder "', 'folder "')):
            faults.append('%s %s[%d]: the source names %s, the PST does not' % link)
    for link, count in sorted((got - want).items()):
        if link[3] is not None:
            faults.append('%s %s[%d]: the PST names %s, which the source does not' % link)
    # (libpff lists no folders below the subtree of today's offline stores: nothing to count.)
    source_top = source.top_names()
    if source_top and dest.top_names().count('Deleted Items') > source_top.count('Deleted Items'):
        faults.append('a second "Deleted Items" beside the source\'s trash')
    for line in sorted(set(faults)):
        print(line)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
