#!/usr/bin/env python3
"""Checks an mbox or .eml export against `salvora-cli dump` of its source.

check_mime_export.py SOURCE.jsonl mbox|eml DIR

Every mail of the source (class IPM.Note...) must be in the folder made for its folder exactly
once, read back by Python's own email and mailbox modules, with its subject, sender, addressees,
body text, HTML and attachments (names and bytes) as the dump of the source has them. Other
messages may be there beside them (reports, meeting requests). Contacts and distribution lists
must be cards of the folder's .vcf file (read by vobject), appointments, tasks, journal entries
and notes components of its .ics file (read by icalendar), as many as the source has, with
their subjects. Prints one line per difference and a summary; exit status 0 when there is none.
"""
import email
import email.policy
import email.utils
import hashlib
import json
import mailbox
import os
import re
import sys
from datetime import datetime

import icalendar
import vobject

CARD_CLASSES = ("IPM.Contact", "IPM.DistList")
CALENDAR_CLASSES = ("IPM.Appointment", "IPM.Task", "IPM.Activity", "IPM.StickyNote")


def safe(name):
    name = "".join("_" if (ord(c) < 0x20 or c == "\x7f" or c in '/\\:*?"<>|') else c for c in name)
    name = name.strip(". ")
    cut = name.encode("utf-8")[:120].decode("utf-8", "ignore")
    return cut.strip(". ") or "Folder"


def dump_folder(path):
    # The dump joins names with "/" and writes "/" in a name as "\/".
    parts = re.split(r"(?<!\\)/", path) if path else []
    return "/".join(safe(p.replace("\\/", "/").replace("\\\\", "\\")) for p in parts)


def mbox_messages(path):
    """The messages of one mbox file, its mboxrd quoting undone, parsed one by one."""
    with open(path, "rb") as f:
        data = f.read()
    # The standard reader must read it too, to the same count.
    count = len(mailbox.mbox(path, create=False))
    # A message starts with a "From " line at the file's start or after a blank line; the
    # blank line before the next one is the separator, not the message's.
    starts = [m.start() for m in re.finditer(rb"(?:\A|(?<=\n\n))From ", data)]
    messages = []
    for begin, end in zip(starts, starts[1:] + [len(data)]):
        line_end = data.find(b"\n", begin, end)
        chunk = data[line_end + 1:end] if line_end >= 0 else b""
        if end != len(data) or chunk.endswith(b"\n\n"):
            chunk = chunk[:-1]
        messages.append(re.sub(rb"(?m)^>(>*From )", rb"\1", chunk))
    if count != len(messages):
        raise SystemExit(f"{path}: mailbox reads {count} messages, the mboxrd split {len(messages)}")
    return [email.message_from_bytes(m, policy=email.policy.default) for m in messages]


others_found = {}  # (folder, "vcf" or "ics") -> names or subjects


def exported(kind, top):
    """folder path -> list of parsed messages"""
    folders = {}
    for root, dirs, files in os.walk(top):
        rel = os.path.relpath(root, top)
        rel = "" if rel == "." else rel
        for name in files:
            path = os.path.join(root, name)
            if name.endswith(".vcf") or name.endswith(".ics"):
                folder = rel if kind == "eml" else "/".join(
                    p[:-4] if p.endswith(".sbd") else p for p in filter(None, (rel + "/" + name[:-4]).split("/")))
                with open(path, encoding="utf-8", newline="") as f:
                    text = f.read()
                if name.endswith(".vcf"):
                    found = [c.fn.value for c in vobject.readComponents(text)]
                else:
                    # A changed instance of a series is a component of its own, no item.
                    found = [str(c.get("summary", "")) for c in icalendar.Calendar.from_ical(text).walk()
                             if c.name in ("VEVENT", "VTODO", "VJOURNAL") and "RECURRENCE-ID" not in c]
                # A contact kept outside a contacts folder is saved in Contacts: cards are
                # counted over the whole mailbox.
                others_found.setdefault((folder if name.endswith(".ics") else "*", name[-3:]), []).extend(found)
            elif kind == "mbox":
                folder = "/".join(p[:-4] if p.endswith(".sbd") else p for p in filter(None, (rel + "/" + name).split("/")))
                folders.setdefault(folder, []).extend(mbox_messages(path))
            elif name.endswith(".eml"):
                with open(path, "rb") as f:
                    folders.setdefault(rel, []).append(email.message_from_binary_file(f, policy=email.policy.default))
    return folders


def sha(data):
    return hashlib.sha256(data).hexdigest()


def leaves(msg):
    """The leaf parts of a message, not entering attached messages."""
    if msg.get_content_maintype() == "multipart":
        for part in msg.get_payload():
            yield from leaves(part)
    else:
        yield msg


def norm(text):
    return " ".join(str(text or "").split())


# The headers this program makes from an item's properties; a message with any other header
# carries the source's own header block, whose addresses are as the sending system wrote them.
MADE_HEADERS = {"subject", "from", "sender", "to", "cc", "bcc", "date", "message-id", "in-reply-to",
                "references", "mime-version", "status", "x-status"}


def facts(msg, cache={}):
    """What the comparison needs of a parsed message, worked out once per message."""
    known = cache.get(id(msg))
    if known is not None and known[0] is msg:
        return known[1]
    parts = list(leaves(msg))
    bodies = {"plain": set(), "html": set()}
    for p in parts:
        if p.get_content_maintype() == "text" and p.get_content_subtype() in bodies and p.get_filename() is None \
                and p.get_content_disposition() != "attachment":
            bodies[p.get_content_subtype()].add(sha(p.get_payload(decode=True)))
    unquote = lambda text: norm(text).lower().replace('"', "")
    found = {
        "subject": norm(msg["subject"]),
        "bodies": bodies,
        "senders": unquote(str(msg.get("from", "")) + " " + str(msg.get("sender", ""))),
        "addressees": unquote(" ".join(str(msg.get(h, "")) for h in ("to", "cc", "bcc"))),
        "source_headers": any(k.lower() not in MADE_HEADERS and not k.lower().startswith("content-")
                              for k in msg.keys()),
        "date": msg["date"],
        "data": [(p.get_filename(), sha(p.get_payload(decode=True) or b"")) for p in parts
                 if p.get_content_maintype() != "message"],
        "attached_messages": sum(1 for p in msg.walk() if p.get_content_type() == "message/rfc822"),
    }
    cache[id(msg)] = (msg, found)
    return found


def differences(item, msg):
    """What differs between a dump line and a parsed message; empty when they are alike."""
    out = []
    f = facts(msg)
    if f["subject"] != norm(item["subject"]):
        out.append(f"subject {f['subject']!r}")
    if item["body_sha256"] and item["body_sha256"] not in f["bodies"]["plain"]:
        out.append("plain body differs")
    if item["html_sha256"] and item["html_sha256"] not in f["bodies"]["html"]:
        out.append("HTML body differs")
    senders = f["senders"]
    if item["sender_email"] and "@" in item["sender_email"] and item["sender_email"].lower() not in senders \
            and norm(item["sender_name"]).lower() not in senders and not f["source_headers"]:
        out.append(f"sender {item['sender_email']!r} not in {senders!r}")
    addressees = f["addressees"]
    for name in filter(None, (n.strip() for n in (item["to"] + ";" + item["cc"]).split(";"))):
        # A display list may show a name with its address in brackets ("Jane (jane@x)"), or in
        # quotes, where the recipient row has the name alone.
        name = name.replace('"', "").strip("'")
        shown = re.match(r"^(.*?)\s*\(([^()]*)\)$", name)
        alike = [name] + ([shown.group(1), shown.group(2)] if shown else [])
        if not any(norm(a).lower() in addressees for a in alike if a) and not f["source_headers"]:
            out.append(f"addressee {name!r} not in {addressees!r}")
    if item["submit_time"] and not f["source_headers"] and f["date"]:
        when = email.utils.parsedate_to_datetime(str(f["date"])).timestamp()
        source = (datetime.strptime(item["submit_time"], "%Y-%m-%dT%H:%M:%S.%fZ") - datetime(1970, 1, 1)).total_seconds()
        if abs(when - source) > 1:
            out.append(f"date {f['date']} for {item['submit_time']}")
    attached_messages = f["attached_messages"]
    for a in item["attachments"] or []:
        if a["method"] == 5:
            attached_messages -= 1
            if attached_messages < 0:
                out.append(f"attached message {a['filename']!r} missing")
        elif a["sha256"] and not any(s == a["sha256"] and (not a["filename"] or n == a["filename"])
                                     for n, s in f["data"]):
            out.append(f"attachment {a['filename']!r} missing or changed")
    return out


def main():
    dump_path, kind, top = sys.argv[1:4]
    with open(dump_path, encoding="utf-8") as f:
        items = [json.loads(line) for line in f if line.strip()]
    folders = exported(kind, top)
    if kind == "mbox":
        # The top's own messages are in an mbox file named after the top, beside its folders.
        known = {dump_folder(i["ipm_folder"]) for i in items if i["ipm_folder"]}
        for folder in [f for f in folders if "/" not in f and f and f not in known]:
            folders.setdefault("", []).extend(folders.pop(folder))
    problems, checked = [], 0
    others = {}
    expected_other = {}
    by_subject = {}
    for item in items:
        folder = dump_folder(item["ipm_folder"] or "")
        if item["ipm_folder"] is None:
            continue
        cls = item["class"] or ""
        if cls.startswith(CARD_CLASSES + CALENDAR_CLASSES):
            key = ("*", "vcf") if cls.startswith(CARD_CLASSES) else (folder, "ics")
            expected_other.setdefault(key, []).append(item["subject"])
            continue
        if not cls.startswith("IPM.Note"):
            others[folder] = others.get(folder, 0) + 1
            continue
        checked += 1
        candidates = folders.get(folder, [])
        # Only messages of the same subject are compared part by part: a folder of thousands
        # stays quick.
        if folder not in by_subject:
            by_subject[folder] = {}
            for m in candidates:
                by_subject[folder].setdefault(norm(m["subject"]), []).append(m)
        same = by_subject[folder].get(norm(item["subject"]), [])
        found = next((m for m in same if not differences(item, m)), None)
        if found is None:
            near = [differences(item, m) for m in same]
            problems.append(f"{folder}: {item['subject']!r} not found" + (f" ({near[0]})" if near else ""))
            continue
        same.remove(found)
        candidates.remove(found)
    for folder, rest in folders.items():
        if len(rest) > others.get(folder, 0):
            problems.append(f"{folder}: {len(rest) - others.get(folder, 0)} messages more than the source has")
    for key in set(expected_other) | set(others_found):
        want, got = expected_other.get(key, []), others_found.get(key, [])
        if len(want) != len(got):
            problems.append(f"{key[0]}: {len(got)} items in the .{key[1]} file, the source has {len(want)}")
        elif key[1] == "ics" and sorted(map(norm, want)) != sorted(map(norm, got)):
            problems.append(f"{key[0]}: the .ics subjects differ: {sorted(got)} for {sorted(want)}")
        checked += len(want)
    for p in problems:
        print(p)
    print(f"{checked} items checked, {len(problems)} differences")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
