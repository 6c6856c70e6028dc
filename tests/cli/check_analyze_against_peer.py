#!/usr/bin/python3
"""Checks `salvora-cli analyze --json` of one file against a libpff dump of the same file:
every folder below the IPM subtree in which the peer sees a message is among the analysed
folders, and the analysis lists at least as many items as the peer shows below the subtree.
Usage: check_analyze_against_peer.py SALVORA_CLI PEER_DUMP FILE. Exit 0 when both hold."""
import json
import subprocess
import sys


def components(escaped):
    out, cur, i = [], '', 0
    while i < len(escaped):
        if escaped[i] == '\\' and i + 1 < len(escaped):
            cur += escaped[i + 1]
            i += 2
        elif escaped[i] == '/':
            out.append(cur)
            cur = ''
            i += 1
        else:
            cur += escaped[i]
            i += 1
    if escaped:
        out.append(cur)
    return out


def main():
    cli, peer_dump, path = sys.argv[1:4]
    # libpff reads an old file's 8-bit text as Windows-1252: so does this side, like for like.
    run = subprocess.run([cli, 'analyze', '--json', '--codepage', '1252', path], capture_output=True, text=True)
    if run.returncode != 0:
        print('analyze failed:', run.stderr.strip())
        return 1
    result = json.loads(run.stdout)
    folders = {f['path'] for f in result['folders']}
    listed = sum(f['items'] for f in result['folders'])
    listed += sum(result['counters'][k] for k in ('contacts', 'tasks', 'notes', 'journal', 'calendar'))
    peer = [json.loads(line) for line in open(peer_dump, encoding='utf-8') if line.strip()]
    peer = [p for p in peer if p['ipm_folder'] is not None]
    missing = sorted({'Personal Folders\\' + ''.join(c + '\\' for c in components(p['ipm_folder']))
                      for p in peer} - folders)
    if missing or listed < len(peer):
        print('listed %d, peer %d, folders missing: %s' % (listed, len(peer), missing[:5]))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
