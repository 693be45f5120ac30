#!/usr/bin/env python3
"""Turns the benchmark driver's timings and the executables' headers into a
Markdown table and checks the budgets.

The tool is timed as shipped, with its manifest, against a floor that carries
the same manifest. Under Wine a process starts later when the one before it ran
in another code page, and the manifest's UTF-8 code page is one, so programs are
compared only with programs of their own code page: the driver runs the tool and
the floor in one group, and the tool without its manifest and the floor without
it in another. The manifest's cost is the tool against its build without one.

The time budget is judged on an interval, not on one ratio: the driver runs the
programs in rounds (one run of each, in a shuffled order), and the ratio of the
medians is recomputed over rounds drawn with replacement. The run is over budget
only when the whole 95% interval is above the budget, within it only when the
whole interval is below, and inconclusive otherwise.

Usage: report.py [--update-readme README.md] OUT.md ARCH:TOOL.exe:BARE.exe:FLOOR.exe:BARE_FLOOR.exe:TIMINGS.txt ...
       (BARE: built without the manifest; TIMINGS.txt: lines "PROGRAM MICROSECONDS", PROGRAM one of
       tool, bare, floor, floor_bare; "-" for a build that was not timed)
Exit code: 0 within every budget, 1 over a budget, 2 inconclusive, 3 timings it cannot read.
"""
import argparse
import random
import statistics
import struct
import sys

SIZE_BUDGET = 24 * 1024   # win32 korvanel.exe, resources included
TIME_BUDGET = 1.02        # tool median / floor median
RESAMPLES = 4000
CONFIDENCE = 0.95
BEGIN, END = '<!-- benchmark:begin -->', '<!-- benchmark:end -->'


def pe_sections_and_imports(path):
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    sections_count, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        name, vsize, vaddr, rawsize, rawptr = struct.unpack_from('<8sIIII', data, table + 40 * i)
        sections.append((name.rstrip(b'\0').decode(), vaddr, max(vsize, rawsize), rawsize, rawptr))

    def file_offset(rva):
        for _, vaddr, span, _, rawptr in sections:
            if vaddr <= rva < vaddr + span:
                return rva - vaddr + rawptr
        raise ValueError('rva outside the sections')

    import_rva = struct.unpack_from('<I', data, directories + 8)[0]
    dlls = []
    offset = file_offset(import_rva)
    while True:
        name_rva = struct.unpack_from('<I', data, offset + 12)[0]
        if name_rva == 0:
            break
        start = file_offset(name_rva)
        dlls.append(data[start:data.index(b'\0', start)].decode())
        offset += 20
    return len(data), sections, dlls


# The programs of one build: the name in the timings, the label in the table,
# and the program it is measured against.
PROGRAMS = (
    ('tool', 'korvanel.exe', 'floor'),
    ('floor', 'floor', None),
    ('bare', 'without manifest', 'floor_bare'),
    ('floor_bare', 'floor without manifest', None),
)


class TimingsError(Exception):
    pass


def rounds(path):
    """The timings in milliseconds as rounds: {program: [round 0, round 1, ...]}."""
    runs = {}
    with open(path) as timings:
        for number, line in enumerate(timings, 1):
            try:
                program, value = line.split()
                runs.setdefault(program, []).append(float(value) / 1000.0)
            except ValueError:
                raise TimingsError(f"{path}:{number}: cannot read {line.rstrip()!r}: "
                                   "expected 'PROGRAM MICROSECONDS'") from None
    for name, _, _ in PROGRAMS:
        if name not in runs:
            raise TimingsError(f'{path}: no timings of {name}')
    count = min(len(values) for values in runs.values())
    return {program: values[:count] for program, values in runs.items()}


def ratio_interval(runs, numerator, denominator):
    """Ratio of the medians, and its bootstrap interval over whole rounds."""
    top, bottom = runs[numerator], runs[denominator]
    count = len(top)
    generator = random.Random(20261208)  # the same timings always give the same interval
    ratios = []
    for _ in range(RESAMPLES):
        picks = generator.choices(range(count), k=count)
        ratios.append(statistics.median(top[i] for i in picks) / statistics.median(bottom[i] for i in picks))
    ratios.sort()
    tail = (1 - CONFIDENCE) / 2
    low, high = ratios[int(tail * RESAMPLES)], ratios[int((1 - tail) * RESAMPLES) - 1]
    return statistics.median(top) / statistics.median(bottom), low, high


def spread(values):
    quartiles = statistics.quantiles(values, n=4)
    return quartiles[0], quartiles[2]


def verdict(low, high, budget):
    if low > budget:
        return 'over budget'
    if high < budget:
        return 'within budget'
    return 'inconclusive'


def build_report(arch, paths, runs):
    """Table rows, notes and (kind, line) verdicts of one build; runs is None when it was not timed."""
    rows, notes, verdicts = [], [], []
    if runs is None:
        notes.append(f'{arch}: not timed in this run')
    for name, label, against in PROGRAMS:
        size, sections, dlls = pe_sections_and_imports(paths[name])
        rsrc = sum(raw for section, _, _, raw, _ in sections if section == '.rsrc')
        if name == 'tool' and arch == 'win32':
            size_verdict = 'over budget' if size > SIZE_BUDGET else 'within budget'
            verdicts.append((size_verdict, f'{arch}: korvanel.exe is {size:,} bytes, budget {SIZE_BUDGET:,}: '
                                           f'{size_verdict}'))
        if runs is None:
            rows.append(f"| {arch} | {label} | {size:,} B | {size - rsrc:,} B | not timed | | 0 | {', '.join(dlls)} |")
            continue
        quartiles = spread(runs[name])
        if against is None:
            versus = '1x'
        else:
            ratio, low, high = ratio_interval(runs, name, against)
            shown = f'**{ratio:.3f}x**' if name == 'tool' else f'{ratio:.3f}x'
            versus = f'{shown} ({low:.3f}-{high:.3f})'
        if name == 'tool':
            time_verdict = verdict(low, high, TIME_BUDGET)
            verdicts.append((time_verdict, f'{arch}: a full run takes {ratio:.3f}x the floor, both with the '
                                           f'manifest, 95% interval {low:.3f}-{high:.3f}, budget {TIME_BUDGET}x: '
                                           f'{time_verdict}'))
        rows.append(f"| {arch} | {label} | {size:,} B | {size - rsrc:,} B | "
                    f"{statistics.median(runs[name]):.2f} ms (IQR {quartiles[0]:.2f}-{quartiles[1]:.2f}) | "
                    f"{versus} | {len(runs[name])} | {', '.join(dlls)} |")
    if runs is not None:
        ratio, low, high = ratio_interval(runs, 'tool', 'bare')
        notes.append(f'{arch}: the manifest costs {ratio:.3f}x, korvanel.exe against its build without one, '
                     f'95% interval {low:.3f}-{high:.3f}')
    return rows, notes, verdicts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--update-readme', metavar='README', help='put the table between the README\'s markers')
    parser.add_argument('out')
    parser.add_argument('targets', nargs='+')
    arguments = parser.parse_args()

    rows, verdicts, notes = [], [], []
    for target in arguments.targets:
        arch, tool, bare, floor_program, bare_floor, timing_file = target.split(':')
        try:
            runs = None if timing_file == '-' else rounds(timing_file)
        except TimingsError as error:
            print(f'report: {error}', file=sys.stderr)
            return 3
        paths = {'tool': tool, 'bare': bare, 'floor': floor_program, 'floor_bare': bare_floor}
        build_rows, build_notes, build_verdicts = build_report(arch, paths, runs)
        rows += build_rows
        notes += build_notes
        verdicts += build_verdicts

    table = '\n'.join([
        '| build | program | file size | without resources | wall time, median (interquartile range) '
        '| vs its floor (95% interval) | runs | imports |',
        '|---|---|---|---|---|---|---|---|',
        *rows,
        '',
        *(f'- {line}' for line in notes + [line for _, line in verdicts]),
    ])
    open(arguments.out, 'w').write(table + '\n')
    if arguments.update_readme:
        text = open(arguments.update_readme).read()
        head, rest = text.split(BEGIN, 1)
        _, tail = rest.split(END, 1)
        open(arguments.update_readme, 'w').write(head + BEGIN + '\n' + table + '\n' + END + tail)
    print(table)
    found = {kind for kind, _ in verdicts}
    if 'over budget' in found:
        return 1
    if 'inconclusive' in found:
        print('inconclusive: the interval straddles the budget; run again with more runs '
              '(scripts/benchmark.sh 4001) to narrow it')
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main())
