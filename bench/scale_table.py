#!/usr/bin/python3
"""Prints how convert, analyze and dump scale against copying and reading the same file.

For each store of a ladder of synthetic offline stores (and the real OSTs of the corpus when
it is present) the script runs, pair by pair, our command and a yardstick on the same file:

    convert / cp           convert / readpst -r      convert / pffexport
    analyze / cat          dump / cat

Each ratio is taken within one pair of runs (A then B, back to back), so that a machine whose
speed drifts still gives a fair ratio, and the table shows the median of the pairs. Peak memory
is each child's own (wait4). The page cache is warm: every file is read once before the runs.

Usage:
    bench/scale_table.py [--ladder quick|full] [--runs N] [--work DIR] [--bin DIR]
                         [--format 23|36] [FILE...]

quick (the default) is 10,000 and 50,000 messages; full adds 200,000 and 1,000,000 messages
and a store of at least 20 GB (about 40 GB of free space needed). Files given on the command
line are measured too. The table is Markdown, ready for the README.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# messages, attachments per message: the top rung's attachments make it a store of over 20 GB.
LADDERS = {
    'quick': [(10_000, 1), (50_000, 1)],
    'full': [(10_000, 1), (50_000, 1), (200_000, 1), (1_000_000, 1), (100_000, 8)],
}


def run(argv, out_path=os.devnull):
    """Runs argv with its output in out_path; returns (seconds, peak MB, exit code)."""
    with open(out_path, 'ab') as out:
        start = time.monotonic()
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return seconds, usage.ru_maxrss / 1024.0, child.returncode


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def warm(path):
    with open(path, 'rb') as f:
        while f.read(1 << 24):
            pass


class Bench:
    def __init__(self, args):
        self.cli = os.path.join(args.bin, 'salvora-cli')
        self.work = args.work
        self.runs = args.runs

    def ours(self, command, source):
        out = os.path.join(self.work, 'ours')
        fresh(out)
        argv = {'convert': [self.cli, 'convert', source, '--dest', out],
                'analyze': [self.cli, 'analyze', source],
                'dump': [self.cli, 'dump', source]}[command]
        return run(argv)

    def yardstick(self, name, source):
        out = os.path.join(self.work, 'theirs')
        fresh(out)
        argv = {'cp': ['cp', source, os.path.join(out, 'copy')],
                'cat': ['cat', source],
                'readpst': ['readpst', '-r', '-q', '-o', out, source],
                'pffexport': ['pffexport', '-q', '-t', os.path.join(out, 'export'), source]}[name]
        return run(argv)

    def pair(self, command, yardstick, source):
        """Median ratio of our command to the yardstick, and our median peak memory."""
        if shutil.which(yardstick) is None:
            return None, None
        ratios, peaks = [], []
        for _ in range(self.runs):
            a_seconds, a_peak, a_code = self.ours(command, source)
            b_seconds, _, b_code = self.yardstick(yardstick, source)
            if a_code not in (0, 3) or b_seconds <= 0:
                return None, None
            ratios.append(a_seconds / b_seconds)
            peaks.append(a_peak)
        return statistics.median(ratios), statistics.median(peaks)


def messages_of(cli, path):
    info = subprocess.run([cli, 'analyze', path], capture_output=True, text=True).stdout
    for line in info.splitlines():
        if line.startswith('items='):
            return line.split('=', 1)[1]
    return '?'


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--ladder', choices=sorted(LADDERS), default='quick')
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--work', default=os.path.join(ROOT, 'build', 'bench-work'))
    parser.add_argument('--bin', default=os.path.join(ROOT, 'build', 'bin'))
    parser.add_argument('--format', default='36', choices=['23', '36'])
    parser.add_argument('files', nargs='*')
    args = parser.parse_args()
    bench = Bench(args)
    os.makedirs(args.work, exist_ok=True)

    files = []
    for messages, attachments in LADDERS[args.ladder]:
        path = os.path.join(args.work, f'synth-{messages}-{attachments}-v{args.format}.ost')
        if not os.path.exists(path):
            print(f'making {path}', file=sys.stderr)
            made = subprocess.run([bench.cli, 'synth', path, '--client', 'ost', '--format', args.format,
                                   '--messages', str(messages), '--attachments-per-message', str(attachments)],
                                  capture_output=True, text=True)
            if made.returncode != 0:
                sys.exit(f'synth failed: {made.stderr.strip()}')
        files.append(path)
    corpus = os.path.join(ROOT, '..', 'shared', 'corpus')
    if os.path.isdir(corpus):
        files += sorted(os.path.join(corpus, f) for f in os.listdir(corpus) if f.endswith('.ost'))
    files += args.files

    columns = [('convert', 'cp'), ('convert', 'readpst'), ('convert', 'pffexport'), ('analyze', 'cat'), ('dump', 'cat')]
    print(f'{args.runs} paired runs per cell, median ratio; peak memory of convert and analyze.\n')
    print('| file | MB | messages | ' + ' | '.join(f'{a} / {b}' for a, b in columns) + ' | convert peak MB | analyze peak MB |')
    print('|---|---:|---:|' + '---:|' * len(columns) + '---:|---:|')
    for path in files:
        warm(path)
        cells, peaks = [], {}
        for command, yardstick in columns:
            ratio, peak = bench.pair(command, yardstick, path)
            cells.append('n/a' if ratio is None else f'{ratio:.2f}')
            if peak is not None:
                peaks[command] = peak
        size = os.path.getsize(path) / 1e6
        print(f'| {os.path.basename(path)} | {size:,.0f} | {messages_of(bench.cli, path)} | ' + ' | '.join(cells) +
              f" | {peaks.get('convert', 0):.0f} | {peaks.get('analyze', 0):.0f} |", flush=True)
    shutil.rmtree(os.path.join(args.work, 'ours'), ignore_errors=True)
    shutil.rmtree(os.path.join(args.work, 'theirs'), ignore_errors=True)


if __name__ == '__main__':
    main()
