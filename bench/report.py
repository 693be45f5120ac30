#!/usr/bin/env python3
"""Turns the benchmark's timings and the executables' headers into a Markdown table and checks the
budgets. Each program is compared, session by session, with the one of its own code page (docs/benchmark.md
says how and why); a run's figure is the mean of the sessions' ratios, with a 99.9% interval for
another run's. A budget is over only when the whole interval is above it, within only when below.

Usage: report.py [--update-page PAGE.md] OUT.md BUILD:FOLDER:SESSIONS ...
       FOLDER holds the four programs and timings-1.txt ... timings-SESSIONS.txt, each a line
       "# seed SEED rounds ROUNDS" and lines "ROUND PROGRAM MICROSECONDS" (PROGRAM: tool, floor,
       bare or floor_bare); SESSIONS: 0 (not timed) or 8 and more.
Exit code: 0 within every budget, 1 over one, 2 inconclusive, 3 no verdict: bad arguments or
input, or a failure of the report's own.
"""
import argparse
import math
import random
import re
import statistics
import struct
import sys

SIZE_BUDGET = 24 * 1024   # win32 korvanel.exe, resources included
TIME_BUDGET = 1.02        # tool / floor
MIN_SESSIONS = 8          # below, the t quantile of across() is over 1% too small (85% at 2 sessions)
BEGIN, END = '<!-- benchmark:begin -->', '<!-- benchmark:end -->'
# The name in the timings, the file, the label in the table, and the program it is measured against.
PROGRAMS = (
    ('tool', 'korvanel.exe', 'korvanel.exe', 'floor'),
    ('floor', 'korvanel_floor.exe', 'floor', None),
    ('bare', 'korvanel_without_manifest.exe', 'without manifest', 'floor_bare'),
    ('floor_bare', 'korvanel_floor_without_manifest.exe', 'floor without manifest', None),
)
LINE = re.compile(r'(\d+) (tool|floor|bare|floor_bare) (\S+)|# seed (\d+) rounds (\d+)')


class Refused(Exception): pass  # input that the report will not judge


def sizes(path):
    """The file's size, and its size without resources."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0] if data[:2] == b'MZ' and len(data) >= 0x40 else 0
    whole = pe and data[pe:pe + 4] == b'PE\0\0' and len(data) >= pe + 24
    count, optional_size = struct.unpack_from('<H12xH', data, pe + 6) if whole else (0, 0)
    table = pe + 24 + optional_size
    if not whole or len(data) < table + 40 * count:
        raise Refused(f'{path}: not a whole Windows executable')
    rsrc = sum(struct.unpack_from('<16xI', data, table + 40 * i)[0] for i in range(count)
               if data[table + 40 * i:table + 40 * i + 8].rstrip(b'\0') == b'.rsrc')
    return len(data), len(data) - rsrc


def read_session(lines, name):
    """{program: [milliseconds, ...]}, seed and rounds run of one session; each round holds each program once.

    >>> def refusal(*lines):
    ...     try: return read_session(lines, 's')[1:]
    ...     except Refused as error: return str(error)
    >>> refusal('# seed 7 rounds 2', '0 tool 2000', '0 floor 1000', '0 bare 3000', '0 floor_bare 4000')
    ('7', 2)
    >>> refusal('0 tool -1'), refusal('0 tool'), refusal('0 other 5')
    ("s:1: tool's time is no positive number: '-1'", "s:1: not 'ROUND PROGRAM MICROSECONDS': '0 tool'", "s:1: not 'ROUND PROGRAM MICROSECONDS': '0 other 5'")
    >>> refusal('0 tool 5', '0 tool 5'), refusal('0 tool 2000', '0 floor 1000', '0 bare 3000'), refusal()
    ('s:2: tool twice in round 0', 's: round 0 lacks floor_bare', 's: no rounds')
    >>> whole = ('0 tool 2', '0 floor 1', '0 bare 3', '0 floor_bare 4')
    >>> refusal(*whole), refusal('# seed 1 rounds 0', *whole)
    ("s: no line '# seed SEED rounds ROUNDS'", "s: no line '# seed SEED rounds ROUNDS' of 1 or more")
    """
    runs, rounds, header = {program: [] for program, *_ in PROGRAMS}, {}, None
    for number, line in enumerate(lines, 1):
        match = LINE.fullmatch(line.rstrip('\n'))
        if not match:
            raise Refused(f"{name}:{number}: not 'ROUND PROGRAM MICROSECONDS': {line.rstrip()!r}")
        round_number, program, time, seed, planned = match.groups()
        if seed is not None:
            header = seed, int(planned)
            continue
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
    if not header or header[1] < len(rounds):
        raise Refused(f"{name}: no line '# seed SEED rounds ROUNDS'" + (f' of {len(rounds)} or more' if header else ''))
    return runs, header[0], header[1]


def figure(starts):
    """A program's figure in a session: the mean of all its kept starts, to which a slowdown in any
    part of them adds. Made-up runs of 16 sessions x 100 starts near 20 ms with a thin tail: over
    budget with 30% of the tool's starts 5 ms slower, within it with starts like the floor's.

    >>> def run(slow, draw=random.Random(5)):
    ...     start = lambda: 20 + draw.expovariate(2) + (draw.random() < 0.01) * draw.uniform(5, 15)
    ...     sessions = [[(start() + 5 * (draw.random() < slow), start()) for _ in range(100)] for _ in range(16)]
    ...     ratio, low, high = across([figure([t for t, _ in s]) / figure([f for _, f in s]) for s in sessions])
    ...     return f'{ratio:.3f}x ({low:.3f}-{high:.3f}) {verdict(low, high, TIME_BUDGET)}'
    >>> run(0.3), run(0)
    ('1.067x (1.055-1.079) over budget', '1.001x (0.989-1.013) within budget')
    """
    return statistics.mean(starts)


def across(ratios):
    """The mean of the sessions' ratios, and the interval that holds another run's mean with 99.9%
    confidence (Student's t quantile by Cornish-Fisher, 0.7% small at 7 degrees of freedom)."""
    z, df = statistics.NormalDist().inv_cdf(0.9995), len(ratios) - 1
    t = z + (z**3 + z) / (4 * df) + (5 * z**5 + 16 * z**3 + 3 * z) / (96 * df**2) + \
        (3 * z**7 + 19 * z**5 + 17 * z**3 - 15 * z) / (384 * df**3)
    mean, half = statistics.mean(ratios), t * statistics.stdev(ratios) * math.sqrt(2 / len(ratios))
    return mean, mean - half, mean + half


def verdict(low, high, budget):
    return 'over budget' if low > budget else 'within budget' if high < budget else 'inconclusive'


def build_report(arch, folder, sessions):
    """Table rows, notes and (kind, line) verdicts of one build."""
    rows, notes, verdicts, figures, kept, seeds, planned = [], [], [], [], [], [], 0
    for session in range(1, sessions + 1):
        path = f'{folder}/timings-{session}.txt'
        with open(path, encoding='utf-8', errors='replace') as timings:  # a byte not UTF-8 fits no line
            runs, seed, rounds = read_session(timings, path)
        figures.append({name: figure(times) for name, times in runs.items()})
        kept, seeds, planned = kept + [len(runs['tool'])], seeds + [seed], planned + rounds
    rounds = '-'.join(str(n) for n in sorted({min(kept), max(kept)})) if kept else '0'  # sessions may drop rounds
    for name, file, label, against in PROGRAMS:
        size, code = sizes(f'{folder}/{file}')
        if name == 'tool' and arch == 'win32':
            kind = 'over budget' if size > SIZE_BUDGET else 'within budget'
            verdicts.append((kind, f'{arch}: korvanel.exe is {size:,} bytes, budget {SIZE_BUDGET:,}: {kind}'))
        time, versus = (f'{statistics.mean(f[name] for f in figures):.2f} ms', '1x') if sessions else ('not timed', '')
        if sessions and against:
            ratio, low, high = across([f[name] / f[against] for f in figures])
            versus = f'{ratio:.3f}x ({low:.3f}-{high:.3f})'
        if sessions and name == 'tool':
            kind = verdict(low, high, TIME_BUDGET)
            verdicts.append((kind, f'{arch}: a full run takes {ratio:.3f}x the floor, both with the manifest, '
                                   f'99.9% interval {low:.3f}-{high:.3f}, budget {TIME_BUDGET}x, '
                                   f'{planned - sum(kept)} of {planned} rounds dropped: {kind}'))
            ratio, low, high = across([f['tool'] / f['bare'] for f in figures])
            notes.append(f'{arch}: the manifest costs {ratio:.3f}x, korvanel.exe against its build without one, '
                         f'99.9% interval {low:.3f}-{high:.3f}')
            notes.append(f"{arch}: the sessions' seeds, from the first: {', '.join(seeds)}")
        rows.append(f"| {arch} | {label} | {size:,} B | {code:,} B | {time} | {versus} | "
                    f"{sessions} x {rounds} |")
    if not sessions:
        notes.append(f'{arch}: not timed in this run')
    return rows, notes, verdicts


def build_argument(text):
    """(BUILD, FOLDER, SESSIONS); the folder is what lies between the first and the last ':'."""
    arch, _, rest = text.partition(':')
    folder, _, sessions = rest.rpartition(':')
    if not (arch and folder and sessions.isdigit()) or 0 < int(sessions) < MIN_SESSIONS:
        raise argparse.ArgumentTypeError(f'{text!r}: not BUILD:FOLDER:SESSIONS with 0 or {MIN_SESSIONS} and more '
                                         "sessions (with fewer, the interval's t quantile is over 1% too small)")
    return arch, folder, int(sessions)


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        raise Refused(f'arguments: {message}')


def main(argv=None):
    parser = Arguments(prog='report.py')
    parser.add_argument('--update-page', metavar='PAGE', help="put the table between the page's markers")
    parser.add_argument('out')
    parser.add_argument('builds', nargs='+', type=build_argument, metavar='BUILD:FOLDER:SESSIONS')
    arguments = parser.parse_args(argv)
    reports = [build_report(*build) for build in arguments.builds]
    rows, notes, verdicts = ([line for report in reports for line in report[part]] for part in range(3))
    table = '\n'.join([
        '| build | program | file size | without resources | run time, mean of all starts (mean of sessions) '
        '| vs its floor (99.9% interval) | sessions x rounds |',
        '|---|---|---|---|---|---|---|',
        *rows,
        '',
        *(f'- {line}' for line in notes + [line for _, line in verdicts]),
    ])
    readme = open(arguments.update_page, encoding='utf-8').read() if arguments.update_page else None
    if readme is not None and not (readme.count(BEGIN) == readme.count(END) == 1 and readme.index(BEGIN) < readme.index(END)):
        raise Refused(f'{arguments.update_page}: not one {BEGIN} before one {END}; nothing written')
    open(arguments.out, 'w').write(table + '\n')
    if readme is not None:
        head, rest = readme.split(BEGIN)
        open(arguments.update_page, 'w').write(head + BEGIN + '\n' + table + '\n' + END + rest.split(END)[1])
    print(table)
    kinds = {kind for kind, _ in verdicts}
    return 1 if 'over budget' in kinds else 2 if 'inconclusive' in kinds else 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Exception as error:  # input it refuses, or a failure of its own: never a verdict
        refused = isinstance(error, (Refused, OSError))
        print(f"report: {'refused' if refused else 'failed: ' + type(error).__name__}: {error}", file=sys.stderr)
    sys.exit(3)
