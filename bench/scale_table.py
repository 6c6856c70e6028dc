#!/usr/bin/python3
"""Prints how convert, analyze and dump scale against copying and reading the same file.

For each store of a ladder of synthetic offline stores (and the real OSTs of the corpus when
it is present) the script runs, pair by pair, our command and a yardstick on the same file:

    convert / cp           convert / readpst -r      convert / pffexport
    analyze / cat          dump / cat

and beside them each command's time against the floor under any reader of the store: every
block read and inflated on two threads, as `bench_read_floor` measures it just before the row
(convert / floor, dump / floor, analyze / floor; the command's median over all its runs of the
row, the floor the best of five).

Each ratio is taken within one pair of runs (A then B, back to back), so that a machine whose
speed drifts still gives a fair ratio, and the table shows the median of the pairs. Peak memory
is each child's own (wait4). The page cache is warm: every file is read once before the runs.

Usage:
    bench/scale_table.py [--ladder quick|full|memory] [--runs N] [--work DIR] [--bin DIR]
                         [--format 23|36] [--memory] [FILE...]

quick (the default) is 2,000 messages with attachments and 20,000 without (33 and 100 MB);
full runs from 10,000 to 1,000,000 messages, the largest with two attachments each (about
25 GB; some 60 GB of free space is needed for the stores and one converted copy). Files given on the command
line are measured too. The table is Markdown, ready for the README.

--memory leaves the yardsticks out and prints each command's time and peak memory, and how the
peak grew against the first store's; `--ladder memory --memory` runs it from 10,000 to
1,000,000 messages without attachments (about 5 GB, and 12 GB for the converted copy).
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# messages, attachments per message: the top rung's attachments make it a store of over 20 GB.
# (synth's attachments follow a long tail, most of a few kilobytes: 1,000 messages with one
# attachment each make about 16 MB, without attachments about 5 MB.)
LADDERS = {
    'tiny': [(2_000, 1)],
    'quick': [(2_000, 1), (20_000, 0)],
    'full': [(10_000, 1), (100_000, 1), (1_000_000, 0), (1_000_000, 2)],
    # For --memory: how the peak grows with the number of messages, without yardsticks.
    'memory': [(10_000, 0), (100_000, 0), (1_000_000, 0)],
}


GNU_TIME = '/usr/bin/time'


def run(argv, out_path=os.devnull):
    """Runs argv with its output in out_path; returns (seconds, peak MB, exit code).

    The peak comes from GNU time, which forks the command itself: a child of this interpreter
    would count the interpreter's own pages as its peak. Without it the peak reads 0."""
    if shutil.which(argv[0]) is None:
        return 0.0, 0.0, 127
    peak_file = os.path.join(os.path.dirname(os.path.abspath(out_path)) if out_path != os.devnull else '/tmp',
                             f'.peak-{os.getpid()}')
    measured = [GNU_TIME, '-f', '%M', '-o', peak_file] + argv if os.path.exists(GNU_TIME) else argv
    with open(out_path, 'ab') as out:
        start = time.monotonic()
        code = subprocess.run(measured, stdout=out, stderr=subprocess.STDOUT).returncode
        seconds = time.monotonic() - start
    peak = 0.0
    if measured is not argv:
        try:
            with open(peak_file) as f:
                peak = int(f.read().split()[-1]) / 1024.0
            os.remove(peak_file)
        except (OSError, ValueError, IndexError):
            pass
    return seconds, peak, code


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
        self.floor_tool = os.path.join(args.bin, 'bench_read_floor')
        self.work = args.work
        self.runs = args.runs
        self.seconds = {}  # our command -> its seconds in the pairs of the current row

    def floor(self, source):
        """Seconds to read and inflate every block of the store on two threads, or None."""
        if not os.path.exists(self.floor_tool):
            return None
        printed = subprocess.run([self.floor_tool, source], capture_output=True, text=True).stdout
        for line in printed.splitlines():
            if 'on two threads' in line:
                try:
                    return float(line.split()[5])
                except (IndexError, ValueError):
                    return None
        return None

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
            self.seconds.setdefault(command, []).append(a_seconds)
        return statistics.median(ratios), statistics.median(peaks)


def messages_of(cli, path):
    """The items of every folder, as analyze counts them."""
    analysis = subprocess.run([cli, 'analyze', '--json', path], capture_output=True, text=True).stdout
    try:
        return f"{sum(f.get('items', 0) for f in json.loads(analysis)['folders']):,}"
    except (ValueError, KeyError):
        return '?'


def memory_table(bench, files):
    print(f'{bench.runs} runs per cell, median; peak memory as GNU time reports it.\n')
    print('| file | MB | items | convert s | convert peak MB | analyze s | analyze peak MB | '
          'convert peak / first | analyze peak / first |')
    print('|---|---:|---:|---:|---:|---:|---:|---:|---:|')
    first = None
    for path in files:
        warm(path)
        cells = {}
        for command in ('convert', 'analyze'):
            runs = [bench.ours(command, path) for _ in range(bench.runs)]
            cells[command] = (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs))
        if first is None:
            first = cells
        growth = ' | '.join(f'{cells[c][1] / first[c][1]:.2f}' if first[c][1] else 'n/a' for c in ('convert', 'analyze'))
        size = os.path.getsize(path) / 1e6
        print(f'| {os.path.basename(path)} | {size:,.0f} | {messages_of(bench.cli, path)} | '
              f"{cells['convert'][0]:.1f} | {cells['convert'][1]:.0f} | {cells['analyze'][0]:.1f} | "
              f"{cells['analyze'][1]:.0f} | {growth} |", flush=True)
    shutil.rmtree(os.path.join(bench.work, 'ours'), ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--ladder', choices=sorted(LADDERS), default='quick')
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--work', default=os.path.join(ROOT, 'build', 'bench-work'))
    parser.add_argument('--bin', default=os.path.join(ROOT, 'build', 'bin'))
    parser.add_argument('--format', default='36', choices=['23', '36'])
    parser.add_argument('--memory', action='store_true',
                        help='only our own commands: seconds and peak memory of convert and analyze, '
                             'median of --runs, and the peak against the first store\'s')
    parser.add_argument('files', nargs='*')
    args = parser.parse_args()
    bench = Bench(args)
    os.makedirs(args.work, exist_ok=True)

    files = []
    for messages, attachments in LADDERS[args.ladder]:
        path = os.path.join(args.work, f'synth-{messages}-{attachments}-v{args.format}.ost')
        if not os.path.exists(path):
            print(f'making {path}', file=sys.stderr)
            argv = [bench.cli, 'synth', path, '--client', 'ost', '--messages', str(messages),
                    '--attachments-per-message', str(attachments)]
            if args.format != '23':
                argv += ['--format', args.format]
            made = subprocess.run(argv, capture_output=True, text=True)
            if made.returncode != 0:
                sys.exit(f'synth failed: {made.stderr.strip()}')
        files.append(path)
    corpus = os.path.join(ROOT, '..', 'shared', 'corpus')
    if os.path.isdir(corpus) and not args.memory:
        files += sorted(os.path.join(corpus, f) for f in os.listdir(corpus) if f.endswith('.ost'))
    files += args.files

    if args.memory:
        memory_table(bench, files)
        return
    columns = [('convert', 'cp'), ('convert', 'readpst'), ('convert', 'pffexport'), ('analyze', 'cat'), ('dump', 'cat')]
    print(f'{args.runs} paired runs per cell, median ratio; peak memory of convert and analyze.\n')
    floored = ('convert', 'dump', 'analyze')
    print('| file | MB | items | ' + ' | '.join(f'{a} / {b}' for a, b in columns) + ' | ' +
          ' | '.join(f'{c} / floor' for c in floored) + ' | convert peak MB | analyze peak MB |')
    print('|---|---:|---:|' + '---:|' * (len(columns) + len(floored)) + '---:|---:|')
    for path in files:
        warm(path)
        floor = bench.floor(path)
        bench.seconds = {}
        cells, peaks = [], {}
        for command, yardstick in columns:
            ratio, peak = bench.pair(command, yardstick, path)
            cells.append('n/a' if ratio is None else f'{ratio:.2f}')
            if peak is not None:
                peaks[command] = peak
        for command in floored:
            runs = bench.seconds.get(command)
            cells.append(f'{statistics.median(runs) / floor:.2f}' if runs and floor else 'n/a')
        size = os.path.getsize(path) / 1e6
        print(f'| {os.path.basename(path)} | {size:,.0f} | {messages_of(bench.cli, path)} | ' + ' | '.join(cells) +
              f" | {peaks.get('convert', 0):.0f} | {peaks.get('analyze', 0):.0f} |", flush=True)
    shutil.rmtree(os.path.join(args.work, 'ours'), ignore_errors=True)
    shutil.rmtree(os.path.join(args.work, 'theirs'), ignore_errors=True)


if __name__ == '__main__':
    main()
