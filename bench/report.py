#!/usr/bin/env python3
"""Turns the benchmark driver's timings and the executables' headers into a
Markdown table, checks the budgets, and puts the table into the README.

Usage: report.py README.md OUT.md ARCH:TOOL.exe:FLOOR.exe:TIMINGS.txt ...
"""
import statistics
import struct
import sys

SIZE_BUDGET = 24 * 1024   # win32 korvanel.exe, resources included
TIME_BUDGET = 1.02        # tool median / floor median
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


def timings(path):
    runs = {'tool': [], 'floor': []}
    for line in open(path):
        kind, value = line.split()
        runs[kind].append(float(value) / 1000.0)
    return runs


def spread(values):
    quartiles = statistics.quantiles(values, n=4)
    return quartiles[0], quartiles[2]


def main():
    readme, out, targets = sys.argv[1], sys.argv[2], sys.argv[3:]
    rows = []
    failures = []
    for target in targets:
        arch, tool, floor_program, timing_file = target.split(':')
        runs = timings(timing_file)
        tool_size, tool_sections, tool_dlls = pe_sections_and_imports(tool)
        floor_size, floor_sections, floor_dlls = pe_sections_and_imports(floor_program)
        rsrc = sum(raw for name, _, _, raw, _ in tool_sections if name == '.rsrc')
        tool_median, floor_median = statistics.median(runs['tool']), statistics.median(runs['floor'])
        ratio = tool_median / floor_median
        tq, fq = spread(runs['tool']), spread(runs['floor'])
        rows.append(f"| {arch} | korvanel.exe | {tool_size:,} B | {tool_size - rsrc:,} B | "
                    f"{tool_median:.2f} ms (IQR {tq[0]:.2f}-{tq[1]:.2f}) | **{ratio:.3f}x** | "
                    f"{len(runs['tool'])} | {', '.join(tool_dlls)} |")
        rows.append(f"| {arch} | floor | {floor_size:,} B | {floor_size:,} B | "
                    f"{floor_median:.2f} ms (IQR {fq[0]:.2f}-{fq[1]:.2f}) | 1x | "
                    f"{len(runs['floor'])} | {', '.join(floor_dlls)} |")
        if arch == 'win32' and tool_size > SIZE_BUDGET:
            failures.append(f'{arch}: korvanel.exe is {tool_size} bytes, over the budget of {SIZE_BUDGET}')
        if ratio > TIME_BUDGET:
            failures.append(f'{arch}: a full run takes {ratio:.3f}x the floor, over the budget of {TIME_BUDGET}x')

    table = '\n'.join([
        '| build | program | file size | without resources | wall time, median (interquartile range) '
        '| vs floor | runs | imports |',
        '|---|---|---|---|---|---|---|---|',
        *rows,
    ])
    open(out, 'w').write(table + '\n')
    text = open(readme).read()
    if BEGIN in text and END in text:
        head, rest = text.split(BEGIN, 1)
        _, tail = rest.split(END, 1)
        open(readme, 'w').write(head + BEGIN + '\n' + table + '\n' + END + tail)
    print(table)
    for failure in failures:
        print('over budget: ' + failure)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
