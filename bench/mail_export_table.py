#!/usr/bin/python3
"""Prints, side by side, what each mail export keeps of the corpus's mail: this program's EML
and mbox, readpst -e and -r, and pffexport.

For every file of the corpus each tool exports the mailbox; the mail of the source (class
IPM.Note..., from `salvora-cli dump`) is then looked up in each export by its subject, and the
table counts, over the whole corpus:

    mail found        source mails with a message of the same subject in the export
    HTML bodies       of the source mails that have an HTML body, those exported with one
    any HTML          found mails exported with an HTML body, also those the source keeps as
                      RTF only (whose RTF may carry the HTML they were sent as)
    non-ASCII headers of the source mails with a non-ASCII subject, sender or addressee name,
                      those whose names all read back whole from the export's headers
    attachment names  of the source's named file attachments, those in the export by name
    non-ASCII names   of those, the ones with a non-ASCII name
    cid pictures      pictures in the export that its HTML shows by content id (a count, not
                      a share: the dump does not tell which pictures the source shows inline)

pffexport names each attachment file "N_name": the name after that number counts as kept.
It writes the HTML of a message as Message.html beside Message.txt, and its pictures as files,
which the HTML cannot show.

Usage:
    bench/mail_export_table.py [--corpus DIR] [--bin DIR] [--work DIR]

The table is Markdown, ready for the README.
"""
import argparse
import email
import email.policy
import glob
import json
import mailbox
import os
import re
import shutil
import subprocess
import sys

TOOLS = ["Salvora EML", "Salvora mbox", "readpst -e", "readpst -r", "pffexport"]


def norm(text):
    return " ".join(str(text or "").split())


def from_message(msg):
    """What the table asks of one parsed message."""
    html, names, cids = "", set(), []
    for part in msg.walk():
        if part.get_content_maintype() == "multipart":
            continue
        name = part.get_filename()
        if name:
            names.add(name)
        if part.get_content_type() == "text/html" and not name:
            html += (part.get_payload(decode=True) or b"").decode("utf-8", "replace")
        if part.get_content_maintype() == "image" and part.get("Content-ID"):
            cids.append(part["Content-ID"].strip("<> "))
    def header(name):
        try:
            return norm(msg[name])
        except Exception:  # a header the parser cannot decode is none
            return ""
    return {"subject": header("subject"), "headers": " ".join(header(h) for h in ("subject", "from", "to", "cc")),
            "html": bool(html), "names": names,
            "cid": sum(1 for c in cids if "cid:" + c in html)}


def parse_file(path):
    with open(path, "rb") as f:
        return email.message_from_binary_file(f, policy=email.policy.default)


def run(args):
    subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600, check=False)


def export_salvora(binary, source, out, form):
    result = subprocess.run([binary, "convert", source, "--dest", out, "--format", form],
                            capture_output=True, text=True, timeout=600, check=False)
    top = next((l.split("=", 1)[1] for l in result.stdout.splitlines() if l.startswith(form + "=")), None)
    records = []
    if not top:
        return records
    for root, _, files in os.walk(top):
        for name in files:
            path = os.path.join(root, name)
            if name.endswith((".vcf", ".ics")):
                continue
            if form == "eml":
                records.append(from_message(parse_file(path)))
            else:
                records += [from_message(email.message_from_bytes(m.as_bytes(), policy=email.policy.default))
                            for m in mailbox.mbox(path, create=False)]
    return records


def export_readpst(source, out, flag):
    os.makedirs(out, exist_ok=True)
    run(["readpst", flag, "-q", "-o", out, source])
    records = []
    for root, _, files in os.walk(out):
        for name in files:
            path = os.path.join(root, name)
            if flag == "-e" and name.endswith(".eml"):
                records.append(from_message(parse_file(path)))
            elif flag == "-r" and name == "mbox":
                records += [from_message(email.message_from_bytes(m.as_bytes(), policy=email.policy.default))
                            for m in mailbox.mbox(path, create=False)]
    return records


def export_pffexport(source, out):
    run(["pffexport", "-q", "-t", out, source])
    records = []
    for headers in glob.glob(os.path.join(glob.escape(out) + "*", "**", "OutlookHeaders.txt"), recursive=True):
        folder = os.path.dirname(headers)
        with open(headers, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        subject = next((l.split(":", 1)[1] for l in lines if l.startswith("Subject:")), "")
        shown = " ".join(l.split(":", 1)[1] for l in lines if l.startswith(("Subject:", "Sender name:")))
        recipients = os.path.join(folder, "Recipients.txt")
        if os.path.exists(recipients):
            with open(recipients, encoding="utf-8", errors="replace") as f:
                shown += " " + f.read()
        attachments = os.path.join(folder, "Attachments")
        names = {re.sub(r"^\d+_", "", n) for n in os.listdir(attachments)} if os.path.isdir(attachments) else set()
        records.append({"subject": norm(subject), "headers": norm(shown), "html": os.path.exists(os.path.join(folder, "Message.html")),
                        "names": names, "cid": 0})
    return records


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--bin", default=os.path.join(here, "..", "build", "bin"))
    parser.add_argument("--work", default="/tmp/salvora-mail-export-table")
    args = parser.parse_args()
    binary = os.path.join(args.bin, "salvora-cli")
    sources = sorted(glob.glob(os.path.join(args.corpus, "*.pst")) + glob.glob(os.path.join(args.corpus, "*.ost")))
    if not sources:
        sys.exit(f"no corpus at {args.corpus}")
    keys = ["found", "html", "any_html", "non_ascii", "names", "wide_names", "cid"]
    totals = {t: dict.fromkeys(keys, 0) for t in TOOLS}
    wanted = dict.fromkeys(keys, 0)
    for source in sources:
        dump = subprocess.run([binary, "dump", source], capture_output=True, text=True, timeout=600, check=False).stdout
        mails = [i for i in map(json.loads, filter(None, dump.splitlines()))
                 if (i["class"] or "").startswith("IPM.Note") and i["ipm_folder"] is not None]
        if not mails:
            continue
        shutil.rmtree(args.work, ignore_errors=True)
        exports = {
            "Salvora EML": export_salvora(binary, source, os.path.join(args.work, "eml"), "eml"),
            "Salvora mbox": export_salvora(binary, source, os.path.join(args.work, "mbox"), "mbox"),
            "readpst -e": export_readpst(source, os.path.join(args.work, "readpst-e"), "-e"),
            "readpst -r": export_readpst(source, os.path.join(args.work, "readpst-r"), "-r"),
            "pffexport": export_pffexport(source, os.path.join(args.work, "pffexport")),
        }
        # Pictures shown by content id, over every message each tool exported.
        for tool, records in exports.items():
            totals[tool]["cid"] += sum(r["cid"] for r in records)
        for item in mails:
            named = [a["filename"] for a in item["attachments"] or [] if a["method"] != 5 and a["filename"]]
            shown = [norm(n) for n in [item["subject"], item["sender_name"]] + (item["to"] + ";" + item["cc"]).split(";")
                     if norm(n)]
            non_ascii = any(ord(c) > 127 for c in "".join(shown))
            wide = [n for n in named if any(ord(c) > 127 for c in n)]
            wanted["found"] += 1
            wanted["html"] += bool(item["html_sha256"])
            wanted["non_ascii"] += non_ascii
            wanted["names"] += len(named)
            wanted["wide_names"] += len(wide)
            for tool, records in exports.items():
                # Of the messages of that subject, the one that shares most attachment names.
                same = [r for r in records if r["subject"] == norm(item["subject"])]
                if not same:
                    continue
                record = max(same, key=lambda r: (len(r["names"] & set(named)), r["html"]))
                records.remove(record)
                t = totals[tool]
                t["found"] += 1
                t["html"] += bool(item["html_sha256"]) and record["html"]
                t["any_html"] += record["html"]
                t["non_ascii"] += non_ascii and all(n in record["headers"] for n in shown)
                t["names"] += sum(1 for n in named if n in record["names"])
                t["wide_names"] += sum(1 for n in wide if n in record["names"])
    shutil.rmtree(args.work, ignore_errors=True)
    print(f"{len(sources)} corpus files, {wanted['found']} mails.\n")
    print("| export | mail found | HTML bodies | any HTML | non-ASCII headers | attachment names | non-ASCII attachment names | cid pictures |")
    print("|---|---|---|---|---|---|---|---|")
    for tool in TOOLS:
        t = totals[tool]
        print(f"| {tool} | {t['found']}/{wanted['found']} | {t['html']}/{wanted['html']} | {t['any_html']} | "
              f"{t['non_ascii']}/{wanted['non_ascii']} | {t['names']}/{wanted['names']} | "
              f"{t['wide_names']}/{wanted['wide_names']} | {t['cid']} |")


if __name__ == "__main__":
    main()
