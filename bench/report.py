#!/usr/bin/env python3
"""Turns the benchmark's timings and the executables' headers into a Markdown
table and checks the budgets (the README says why it measures so).

Each program is compared with the one of its own code page: the tool with the
floor, the tool without its manifest with the floor without it; the manifest's
cost is the tool against its build without one. A program's figure in a
session is the mean of its faster half of starts; a ratio of figures is taken
in each session, and a run's figure is the mean over its sessions, with a 99.9%
interval for the figure of another run of as many sessions. A budget is over
only when the whole interval is above it, within only when it is all below.

Usage: report.py [--update-readme README.md] OUT.md BUILD:FOLDER:SESSIONS ...
       FOLDER holds the four programs and timings-1.txt ... timings-SESSIONS.txt,
       each the lines "ROUND PROGRAM MICROSECONDS" of one session (PROGRAM: tool,
       floor, bare or floor_bare); SESSIONS 0: the build was not timed.
Exit code: 0 within every budget, 1 over a budget, 2 inconclusive, 3 timings it refuses.
"""
import argparse
import math
import re
import statistics
import struct
import sys

SIZE_BUDGET = 24 * 1024   # win32 korvanel.exe, resources included
TIME_BUDGET = 1.02        # tool / floor
BEGIN, END = '<!-- benchmark:begin -->', '<!-- benchmark:end -->'
# The name in the timings, the file, the label in the table, and the program it is measured against.
PROGRAMS = (
    ('tool', 'korvanel.exe', 'korvanel.exe', 'floor'),
    ('floor', 'korvanel_floor.exe', 'floor', None),
    ('bare', 'korvanel_without_manifest.exe', 'without manifest', 'floor_bare'),
    ('floor_bare', 'korvanel_floor_without_manifest.exe', 'floor without manifest', None),
)
LINE = re.compile(r'(\d+) (tool|floor|bare|floor_bare) (\S+)')


class Refused(Exception):
    pass


def sizes(path):
    """The file's size, and its size without resources."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    count, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    table = pe + 24 + optional_size
    rsrc = sum(struct.unpack_from('<16xI', data, table + 40 * i)[0] for i in range(count)
               if data[table + 40 * i:table + 40 * i + 8].rstrip(b'\0') == b'.rsrc')
    return len(data), len(data) - rsrc


def read_session(lines, name):
    """{program: [milliseconds, ...]} of one session; every round must hold each program once.

    >>> def refusal(*lines):
    ...     try: return sorted(read_session(lines, 's'))
    ...     except Refused as error: return str(error)
    >>> refusal('0 tool 2000', '0 floor 1000', '0 bare 3000', '0 floor_bare 4000')
    ['bare', 'floor', 'floor_bare', 'tool']
    >>> refusal('0 tool -1'), refusal('0 tool'), refusal('0 other 5')
    ("s:1: tool's time is no positive number: '-1'", "s:1: not 'ROUND PROGRAM MICROSECONDS': '0 tool'", "s:1: not 'ROUND PROGRAM MICROSECONDS': '0 other 5'")
    >>> refusal('0 tool 5', '0 tool 5'), refusal('0 tool 2000', '0 floor 1000', '0 bare 3000'), refusal()
    ('s:2: tool twice in round 0', 's: round 0 lacks floor_bare', 's: no rounds')
    """
    runs, rounds = {program: [] for program, *_ in PROGRAMS}, {}
    for number, line in enumerate(lines, 1):
        match = LINE.fullmatch(line.rstrip('\n'))
        if not match:
            raise Refused(f"{name}:{number}: not 'ROUND PROGRAM MICROSECONDS': {line.rstrip()!r}")
        round_number, program, time = match.groups()
        microseconds = float(time) if re.fullmatch(r'\d+(\.\d+)?', time) else 0
        if not microseconds > 0:
            raise Refused(f"{name}:{number}: {program}'s time is no positive number: {time!r}")
        if program in rounds.setdefault(round_number, set()):
            raise Refused(f'{name}:{number}: {program} twice in round {round_number}')
        rounds[round_number].add(program)
        runs[program].append(microseconds / 1000)
    for round_number, programs in rounds.items():
        if len(programs) != len(PROGRAMS):
            missing = ', '.join(program for program, *_ in PROGRAMS if program not in programs)
            raise Refused(f'{name}: round {round_number} lacks {missing}')
    if not rounds:
        raise Refused(f'{name}: no rounds')
    return runs


def faster_half(values):
    return statistics.mean(sorted(values)[:max(1, len(values) // 2)])


def across(ratios):
    """The mean of the sessions' ratios, and the interval that holds another run's mean with 99.9%
    confidence (Student's t quantile by Cornish-Fisher, 1% off at 7 degrees of freedom)."""
    z, df = statistics.NormalDist().inv_cdf(0.9995), len(ratios) - 1
    t = z + (z**3 + z) / (4 * df) + (5 * z**5 + 16 * z**3 + 3 * z) / (96 * df**2) + \
        (3 * z**7 + 19 * z**5 + 17 * z**3 - 15 * z) / (384 * df**3)
    mean, half = statistics.mean(ratios), t * statistics.stdev(ratios) * math.sqrt(2 / len(ratios))
    return mean, mean - half, mean + half


def verdict(low, high, budget):
    return 'over budget' if low > budget else 'within budget' if high < budget else 'inconclusive'


def build_report(arch, folder, sessions):
    """Table rows, notes and (kind, line) verdicts of one build."""
    rows, notes, verdicts, figures, kept = [], [], [], [], set()
    for session in range(1, sessions + 1):
        with open(f'{folder}/timings-{session}.txt') as timings:
            runs = read_session(timings, timings.name)
        figures.append({name: faster_half(times) for name, times in runs.items()})
        kept.add(len(runs['tool']))
    rounds = '-'.join(str(n) for n in sorted({min(kept), max(kept)})) if kept else '0'  # sessions may drop rounds
    for name, file, label, against in PROGRAMS:
        size, code = sizes(f'{folder}/{file}')
        if name == 'tool' and arch == 'win32':
            kind = 'over budget' if size > SIZE_BUDGET else 'within budget'
            verdicts.append((kind, f'{arch}: korvanel.exe is {size:,} bytes, budget {SIZE_BUDGET:,}: {kind}'))
        time, versus = 'not timed', ''
        if sessions:
            time, versus = f'{statistics.mean(f[name] for f in figures):.2f} ms', '1x'
        if sessions and against:
            ratio, low, high = across([f[name] / f[against] for f in figures])
            versus = f'{ratio:.3f}x ({low:.3f}-{high:.3f})'
        if sessions and name == 'tool':
            kind = verdict(low, high, TIME_BUDGET)
            verdicts.append((kind, f'{arch}: a full run takes {ratio:.3f}x the floor, both with the manifest, '
                                   f'99.9% interval {low:.3f}-{high:.3f}, budget {TIME_BUDGET}x: {kind}'))
            ratio, low, high = across([f['tool'] / f['bare'] for f in figures])
            notes.append(f'{arch}: the manifest costs {ratio:.3f}x, korvanel.exe against its build without one, '
                         f'99.9% interval {low:.3f}-{high:.3f}')
        rows.append(f"| {arch} | {label} | {size:,} B | {code:,} B | {time} | {versus} | "
                    f"{sessions} x {rounds} |")
    if not sessions:
        notes.append(f'{arch}: not timed in this run')
    return rows, notes, verdicts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--update-readme', metavar='README', help="put the table between the README's markers")
    parser.add_argument('out')
    parser.add_argument('builds', nargs='+', metavar='BUILD:FOLDER:SESSIONS')
    arguments = parser.parse_args()
    rows, notes, verdicts = [], [], []
    for build in arguments.builds:
        arch, folder, sessions = build.split(':')
        try:
            build_rows, build_notes, build_verdicts = build_report(arch, folder, int(sessions))
        except (Refused, OSError) as error:
            print(f'report: refused: {error}', file=sys.stderr)
            return 3
        rows, notes, verdicts = rows + build_rows, notes + build_notes, verdicts + build_verdicts
    table = '\n'.join([
        '| build | program | file size | without resources | run time, faster half (mean of sessions) '
        '| vs its floor (99.9% interval) | sessions x rounds |',
        '|---|---|---|---|---|---|---|',
        *rows,
        '',
        *(f'- {line}' for line in notes + [line for _, line in verdicts]),
    ])
    open(arguments.out, 'w').write(table + '\n')
    if arguments.update_readme:
        text = open(arguments.update_readme).read()
        head, rest = text.split(BEGIN, 1)
        open(arguments.update_readme, 'w').write(head + BEGIN + '\n' + table + '\n' + END + rest.split(END, 1)[1])
    print(table)
    kinds = {kind for kind, _ in verdicts}
    return 1 if 'over budget' in kinds else 2 if 'inconclusive' in kinds else 0


if __name__ == '__main__':
    sys.exit(main())
