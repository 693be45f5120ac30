#!/usr/bin/env bash
# The release: the zip holds a folder per architecture with that build as
# korvanel.exe, the READMEs, the licence and every page they link to, as
# committed, and no link in it is dead (nor in the tree's pages); SHA256SUMS
# beside it vouches for it, sorted by version; with a home page, the winget set
# and the Scoop manifest describe that very zip, for GitHub Releases and for a
# plain web server, and only https addresses are taken; without one there are
# none; the changelog's newest version is the project's; a clone of another user's is
# refused with the fix named; and the release workflow's questions of a tag.
# It is built in a folder of its own: the developer's build tree is left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The output folder already holds the sum of an older release and of a newer one
# made before this one (a patch after a minor release), which must stay, and a
# stale sum of this one with a Windows line ending, which must go.
version=$(sed -n 's/^project(Korvanel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
other_line="$(printf '%064d' 0)  korvanel-0.9.0-windows.zip"
newer_line="$(printf '%064d' 2)  korvanel-$version.1-windows.zip"
home=https://github.com/example/korvanel
plain_home=https://example.org/korvanel/
plain_url=https://example.org/korvanel/$version/
mkdir "$work/out" "$work/bare" "$work/plain" "$work/refused"
printf '%s\n%064d  korvanel-%s-windows.zip\r\n%s\n' "$newer_line" 1 "$version" "$other_line" >"$work/out/SHA256SUMS"
cp "$work/out/SHA256SUMS" "$work/plain/SHA256SUMS"
zip_file=$("$root/scripts/package.sh" --home "$home" "$work/out" "$work/build")
"$root/scripts/package.sh" --home "$plain_home" --url "$plain_url" "$work/plain" "$work/build" >/dev/null
(cd "$work" && unzip -q "$zip_file")
folder=$(echo "$work"/korvanel-*)
status=0
# expect WHAT COMMAND...: the command must succeed.
expect() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; status=1; fi
}
file_type_is() { [[ "$(file -b "$1")" == "$2"* ]]; }
sums_vouch_for() { [ "$(cd "$1" && sha256sum -c --strict --ignore-missing SHA256SUMS)" = "$2: OK" ]; }
# The other releases' lines stay, the zip's comes between them, by version, all in LF.
sums_keep() {
    [ "$(sed 's/.*  //' "$1/SHA256SUMS" | tr '\n' ' ')" = "korvanel-0.9.0-windows.zip korvanel-$version-windows.zip korvanel-$version.1-windows.zip " ] &&
        grep -qxF "$2" "$1/SHA256SUMS" && grep -qxF "$newer_line" "$1/SHA256SUMS" && ! grep -q $'\r' "$1/SHA256SUMS"
}
committed_all() {
    local file
    for file in $(cd "$1" && find . -type f ! -name '*.exe' | sort); do
        git -C "$root" show "HEAD:$file" | cmp -s "$1/$file" - || { echo "  $file differs from the commit's"; return 1; }
    done
}
no_manifest_without_home() {
    local said
    said=$("$root/scripts/package.sh" "$work/bare" "$work/build" 2>&1 >/dev/null) &&
        [ "$(wc -l <<<"$said")" = 1 ] && [[ $said == *"no winget or Scoop manifest"* ]] &&
        [ "$(cd "$work/bare" && ls -A)" = "$(printf 'SHA256SUMS\nkorvanel-%s-windows.zip' "$version")" ]
}
# refused WHAT OPTIONS...: exit 2, one line naming the rule, nothing written.
refused() {
    local rule=$1 said got=0
    shift
    said=$("$root/scripts/package.sh" "$@" "$work/refused" "$work/build" 2>&1 >/dev/null) || got=$?
    [ "$got" = 2 ] && [ "$(wc -l <<<"$said")" = 1 ] && [[ $said == *"$rule"* ]] && [ -z "$(ls -A "$work/refused")" ] ||
        { echo "  exit $got: $said"; return 1; }
}

expect "x86/korvanel.exe is the 32-bit build" file_type_is "$folder/x86/korvanel.exe" "PE32 executable (GUI) Intel 80386"
expect "x64/korvanel.exe is the 64-bit build" file_type_is "$folder/x64/korvanel.exe" "PE32+ executable (GUI) x86-64"
expect "the pages and the licence are there, as committed" committed_all "$folder"
expect "SHA256SUMS holds the zip's sum" sums_vouch_for "$work/out" "$(basename "$zip_file")"
expect "SHA256SUMS keeps the other releases' lines, the zip's among them by version, in LF lines" \
    sums_keep "$work/out" "$other_line"
expect "without a home page: no manifest, one line saying why, exit 0" no_manifest_without_home
expect "an http:// home: refused" refused "only https:// addresses" --home http://github.com/example/korvanel
expect "an http:// address for the files: refused" refused "only https:// addresses" --home "$plain_home" \
    --url "http://example.org/korvanel/$version/"
expect "GitHub Releases for a home elsewhere: refused" refused "https://github.com/OWNER/REPO" --home "$plain_home"

# A clone of another user's, as GitHub's container jobs give root the runner's workspace, whose
# user id has no name there: git will not read it, and the script says how to let it.
unnamed=$(for uid in $(seq 4242 4342); do getent passwd "$uid" >/dev/null || { echo "$uid"; break; }; done)
if git clone -q "$root" "$work/others" && cp "$root/scripts/package.sh" "$root/scripts/lock.sh" "$work/others/scripts/" &&
    chown -R "$unnamed" "$work/others" 2>/dev/null; then
    others_refused() {
        local said got=0
        said=$(cd "$work/others" && HOME=$work/no-home GIT_CONFIG_NOSYSTEM=1 scripts/package.sh "$work/others-out" 2>&1) || got=$?
        [ "$got" = 2 ] && [[ $said == *"belongs to user id $unnamed, which has no name here"*"git config --global --add safe.directory $work/others'"* ]] ||
            { echo "  exit $got: $said"; return 1; }
    }
    expect "a clone of an unnamed user's: refused, naming the user id and git's safe.directory" others_refused
else
    echo "skipped: a clone of another user's: only root can make one here"
fi

# The release workflow's questions of a tag, over made-up tags and releases: only vMAJOR.MINOR.PATCH
# naming CMake's version, with its changelog section under the one heading and nothing unreleased,
# makes a release; its notes and date are that section's; a published one is left alone; it is
# "latest" only when no published release is higher, by version, not by text.
mkdir "$work/tags"
# tag_case TAG CMAKE_VERSION PUBLISHED EXPECTED_STATUS EXPECTED_OUTPUT [EXPECTED_NOTES [HEADING_OF_1.9.0 [UNRELEASED]]]
tag_case() {
    local said got=0
    printf 'project(Korvanel VERSION %s LANGUAGES CXX)\n' "$2" >"$work/tags/CMakeLists.txt"
    printf '## [Unreleased]\n\n### Added\n%s\n\n## [1.10.0] - 2026-03-01\n\n- Tenth.\n\n%s\n\n- Ninth.\n\n[1.9.0]: #190\n' \
        "${8:-}" "${7:-## [1.9.0] - 2026-02-01}" >"$work/tags/CHANGELOG.md"
    printf '%s\n' $3 >"$work/tags-published"
    rm -f "$work/tags-notes"
    said=$(cd "$work/tags" && "$root/scripts/release.sh" "$1" "$work/tags-notes" "$work/tags-published" 2>&1) || got=$?
    [ "$got" = "$4" ] && [[ $said == *"$5"* ]] && [ "$(cat "$work/tags-notes" 2>/dev/null)" = "${6:-}" ] ||
        { echo "  exit $got: $said; notes: $(cat "$work/tags-notes" 2>/dev/null)"; return 1; }
}
expect "tag v1.10.0, with v1.9.0 and lines of no release form published: latest, with its notes and date" \
    tag_case v1.10.0 1.10.0 "v1.9.0 v1.2.0-rc1 vendor-x" 0 $'date=2026-03-01\npublished=false\nlatest=true' "- Tenth."
expect "tag v1.9.0 after v1.10.0 was published: released, not latest" tag_case v1.9.0 1.9.0 "v1.10.0" 0 latest=false "- Ninth."
expect "tag v1.9.0, published already: left alone" tag_case v1.9.0 1.9.0 "v1.10.0 v1.9.0" 0 published=true "- Ninth."
expect "tag v1.2.0-rc1: refused" tag_case v1.2.0-rc1 1.2.0 "" 1 "no vMAJOR.MINOR.PATCH tag"
expect "tag vendor-x: refused" tag_case vendor-x 1.9.0 "" 1 "no vMAJOR.MINOR.PATCH tag"
expect "tag v1.9.0 when CMake says 1.10.0: refused" tag_case v1.9.0 1.10.0 "" 1 "CMakeLists.txt says 1.10.0"
expect "tag v1.2.3 without a changelog section: refused" tag_case v1.2.3 1.2.3 "" 1 'no section "## [1.2.3] - YYYY-MM-DD"'
for heading in '## [1.9.0]' '## [1.9.0](https://example.org) - 2026-02-01' '## [1.9.0] – 2026-02-01' '## [1.9.0] - 2026-02-01 [YANKED]'; do
    expect "tag v1.9.0 under '$heading': refused" tag_case v1.9.0 1.9.0 "" 1 "is not \"## [1.9.0] - YYYY-MM-DD\"" "" "$heading"
done
expect "tag v1.9.0 while [Unreleased] lists changes: refused" tag_case v1.9.0 1.9.0 "" 1 "move them into the section of 1.9.0" "" "" '- Unlisted.'

# The pages' links, the changelog and the manifests, each check in the words of
# the format it follows.
python3 - "$root" "$folder" "$zip_file" "$work/out" "$work/plain" "$version" "$home" "$plain_home" "$plain_url" <<'EOF' || status=1
import glob, hashlib, json, os, posixpath, re, struct, sys, zipfile
import yaml
root, folder, zip_path, out, plain, version, home, plain_home, plain_url = sys.argv[1:]
failed = False
def check(what, problems):
    global failed
    problems = [p for p in problems if p]
    print(('FAILED: ' if problems else 'ok: ') + what + ''.join('\n  ' + p for p in problems))
    failed = failed or bool(problems)

# A relative link names a file, and a heading of it where it names one (GitHub's
# anchors: lower case, punctuation dropped, spaces as hyphens).
def anchors(page):
    text = re.sub(r'```.*?```', '', open(page, encoding='utf-8').read(), flags=re.S)
    return {re.sub(r'[^\w\- ]', '', h.strip().lower()).replace(' ', '-') for h in re.findall(r'^#+ (.*)$', text, re.M)}
def links(page):
    return [t for t in re.findall(r'\]\(([^)\s]+)\)', open(page, encoding='utf-8').read())
            if not re.match(r'[A-Za-z][A-Za-z0-9+.-]*:', t)]
def dead(top, pages):
    for page in pages:
        for target in links(os.path.join(top, page)):
            name, _, anchor = target.partition('#')
            path = os.path.normpath(os.path.join(top, os.path.dirname(page), name)) if name else os.path.join(top, page)
            if not os.path.isfile(path) or not path.startswith(top + os.sep):
                yield f'{page}: {target}: no such file'
            elif anchor and (not path.endswith('.md') or anchor not in anchors(path)):
                yield f'{page}: {target}: no such heading'
tree_pages = ['README.md', 'README.ja.md', 'CHANGELOG.md'] + sorted(os.path.relpath(p, root) for p in glob.glob(os.path.join(root, 'docs', '*.md')))
check('every relative link of README.md, README.ja.md, CHANGELOG.md and docs/ names a file and heading that exist', dead(root, tree_pages))
# The Japanese page is the English one in other words: the same commands, byte for
# byte but for Notepad's title, which a Japanese Windows shows in Japanese, and the
# same links, but for the link to each other.
EN_TITLE, JA_TITLE = '"Untitled - Notepad"', '"無題 - メモ帳"'
def blocks(page):
    return re.findall(r'^```.*?^```', open(os.path.join(root, page), encoding='utf-8').read(), re.M | re.S)
def targets(page, other):
    return sorted(set(re.findall(r'\]\(([^)\s]+)\)', open(os.path.join(root, page), encoding='utf-8').read())) - {other})
english, japanese = blocks('README.md'), blocks('README.ja.md')
check("README.md and README.ja.md hold the same code blocks, but for Notepad's title, and link to the same places",
      [f'code block {i + 1} differs:\n{e}\n{j}' for i, (e, j) in enumerate(zip(english, japanese)) if e != j.replace(JA_TITLE, EN_TITLE)]
      + ([f'{len(english)} code blocks against {len(japanese)}'] if len(english) != len(japanese) else [])
      + [f'README.ja.md gives Notepad the English title: {j}' for j in japanese if EN_TITLE in j]
      + [f'{t}: only in {page}' for page, other, them in (('README.md', 'README.ja.md', 'README.ja.md'), ('README.ja.md', 'README.md', 'README.md'))
         for t in sorted(set(targets(page, other)) - set(targets(them, page)))])
zipped = sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs)
zipped_pages = [p for p in zipped if p.endswith('.md')]
check('no relative link in the zip is dead', dead(folder, zipped_pages))
linked = {os.path.normpath(os.path.join(os.path.dirname(p), t.partition('#')[0])) for p in zipped_pages
          for t in links(os.path.join(folder, p)) if t.partition('#')[0]}
check('the zip holds the executables, README.md, LICENSE and what the pages link to, nothing else',
      [f'{p}: nothing links to it' for p in zipped if p not in linked | {'README.md', 'LICENSE', 'x86/korvanel.exe', 'x64/korvanel.exe'}]
      + [f'{p}: missing' for p in ('README.md', 'README.ja.md', 'LICENSE') if p not in zipped])

# Keep a Changelog: versions under "## [X.Y.Z] - date" headings, newest first, after [Unreleased].
released = re.findall(r'^## \[(\d[^\]]*)\]', open(os.path.join(root, 'CHANGELOG.md'), encoding='utf-8').read(), re.M)
check("CHANGELOG.md's newest release is the project's version",
      [f'newest is {released[0] if released else "none"}, the project is {version}'] if released[:1] != [version] else [])

archive = zipfile.ZipFile(zip_path)
members = set(archive.namelist())
sha256 = hashlib.sha256(open(zip_path, 'rb').read()).hexdigest()
zip_name = os.path.basename(zip_path)
zip_url = f'{home}/releases/download/v{version}/{zip_name}'  # what GitHub serves for the tag's asset
def machine(member):  # the COFF header's Machine: 0x14c for x86, 0x8664 for x64
    data = archive.read(member)
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    return struct.unpack_from('<H', data, pe + 4)[0] if data[pe:pe + 4] == b'PE\0\0' else None
MACHINE = {'x86': 0x14c, '32bit': 0x14c, 'x64': 0x8664, '64bit': 0x8664}
def file_for(architecture, path):
    if path not in members:
        return f'{architecture}: {path} is not in the zip'
    if machine(path) != MACHINE[architecture]:
        return f'{architecture}: {path} is a PE for machine {machine(path)!r}, not {MACHINE[architecture]:#x}'
# Where the alias cannot be made (no symbolic link without elevation or Developer
# Mode), winget puts the file's folder on PATH: `korvanel` is then the korvanel.exe
# there, which must be the same architecture's build as the file behind the alias.
def on_path(architecture, path):
    return [file_for(architecture, path), file_for(architecture, posixpath.join(posixpath.dirname(path), 'korvanel.exe'))]

# winget, manifest schema 1.12.0, multi-file: a version file, a default-locale file,
# an installer file and a locale file per further language, in
# manifests/<first letter>/<publisher>/<package>/<version>/, each named
# <PackageIdentifier>[.installer|.locale.<locale>].yaml. Read with every value a
# string, as the schema types them.
identifier = 'Korvanel.Korvanel'
def load(where, suffix):
    return yaml.load(open(os.path.join(where, 'winget', 'manifests', 'k', 'Korvanel', 'Korvanel', version,
                                       identifier + suffix + '.yaml'), encoding='utf-8'), Loader=yaml.BaseLoader)
version_file, locale_file, ja_file, installer_file = (load(out, s) for s in ('', '.locale.en-US', '.locale.ja-JP', '.installer'))
def required(document, fields, where):
    return [f'{where}: no {field}' for field in fields if not document.get(field)]
every = ('PackageIdentifier', 'PackageVersion', 'ManifestType', 'ManifestVersion')
problems = (required(version_file, every + ('DefaultLocale',), 'version file')
            + required(locale_file, every + ('PackageLocale', 'Publisher', 'PackageName', 'License', 'ShortDescription'),
                       'default-locale file')
            + required(ja_file, every + ('PackageLocale',), 'ja-JP locale file')
            + required(installer_file, every + ('Installers',), 'installer file'))
for document, kind in ((version_file, 'version'), (locale_file, 'defaultLocale'), (ja_file, 'locale'), (installer_file, 'installer')):
    problems += [f'{kind}: ManifestType is {document.get("ManifestType")!r}'] if document.get('ManifestType') != kind else []
    problems += [f'{kind}: {field} is {document.get(field)!r}' for field, value in
                 (('PackageIdentifier', identifier), ('PackageVersion', version), ('ManifestVersion', '1.12.0'))
                 if document.get(field) != value]
problems += [] if version_file.get('DefaultLocale') == locale_file.get('PackageLocale') else ['the locales differ']
problems += [] if ja_file.get('PackageLocale') == 'ja-JP' else [f'the ja-JP file is for {ja_file.get("PackageLocale")}']
for document, where in ((locale_file, 'en-US'), (ja_file, 'ja-JP')):
    problems += [] if 3 <= len(document.get('ShortDescription', '')) <= 256 else [f'{where}: ShortDescription: 3 to 256 characters']
    problems += [] if 3 <= len(document.get('Description', '')) <= 10000 else [f'{where}: Description: 3 to 10000 characters']
    problems += [f'{where}: tag {t!r}: 1 to 40 characters' for t in document.get('Tags', []) if not 1 <= len(t) <= 40]
    problems += [] if len(document.get('Tags', [])) <= 16 else [f'{where}: more than 16 tags']
problems += [] if re.search('[\u3040-\u30ff]', ja_file.get('ShortDescription', '') + ja_file.get('Description', '')) else [
    'ja-JP: the descriptions are not in Japanese']
problems += [] if re.fullmatch(r'\d{4}-\d{2}-\d{2}', installer_file.get('ReleaseDate', '')) else ['ReleaseDate: no YYYY-MM-DD']
# Each installer has an architecture, a type (its own or the file's), an address and
# a SHA-256; a zip also names its nested installer type and files.
for index, installer in enumerate(installer_file.get('Installers') or [{}]):
    merged = dict(installer_file, **installer)
    problems += required(merged, ('Architecture', 'InstallerType', 'InstallerUrl', 'InstallerSha256'), f'installer {index}')
    if merged.get('InstallerType') == 'zip':
        problems += required(merged, ('NestedInstallerType', 'NestedInstallerFiles'), f'installer {index}')
        problems += [f'installer {index}: a nested file without RelativeFilePath'
                     for nested in merged.get('NestedInstallerFiles') or [] if not nested.get('RelativeFilePath')]
check('the winget set, ja-JP locale included, parses and carries the fields its schema requires', problems)
tree = f'{home}/blob/v{version}'
date = re.search(rf'^## \[{re.escape(version)}\] - (\S+)', open(os.path.join(root, 'CHANGELOG.md'), encoding='utf-8').read(), re.M)
wanted = {'PackageUrl': home, 'PublisherUrl': 'https://github.com/example', 'LicenseUrl': f'{tree}/LICENSE',
          'ReleaseNotesUrl': f'{tree}/CHANGELOG.md#' + re.sub(r'[^\w\- ]', '', f'[{version}] - {date[1] if date else ""}').replace(' ', '-')}
check('for GitHub: the winget locales name the home, the publisher, and the licence and release notes of the tag',
      [f'{where}: {field} is {document.get(field)!r}, not {value!r}' for document, where in ((locale_file, 'en-US'), (ja_file, 'ja-JP'))
       for field, value in wanted.items() if document.get(field) != value]
      + ([] if installer_file.get('ReleaseDate') == (date[1] if date else None) else ['ReleaseDate is not the changelog\'s']))
notes = wanted['ReleaseNotesUrl'].partition('#')[2]
check("the release notes' anchor is the changelog's heading of the release", [] if notes in anchors(os.path.join(root, 'CHANGELOG.md')) else [notes])
installers = installer_file.get('Installers') or []
check('the winget installers name the zip, its address on GitHub Releases and its real SHA-256',
      [f'{i.get("Architecture")}: {i.get("InstallerUrl")} {i.get("InstallerSha256")}' for i in installers
       if i.get('InstallerSha256', '').lower() != sha256 or i.get('InstallerUrl') != zip_url] or ([] if installers else ['none']))
nested = [(i.get('Architecture'), n.get('RelativeFilePath', '').replace('\\', '/'), n.get('PortableCommandAlias'))
          for i in installers for n in dict(installer_file, **i).get('NestedInstallerFiles') or []]
check("each winget architecture: the file behind the alias and the korvanel.exe of the folder put on PATH "
      "instead are that architecture's build", [p for a, path, _ in nested for p in on_path(a, path)]
      + [f'{a}: no x86 and x64' for a in ('x86', 'x64') if a not in {a for a, _, _ in nested}])

# Scoop: version, description, homepage and license are required; the zip's address,
# hash and folder, a command per architecture, and how to find and take the next release.
def scoop_of(where):
    return json.load(open(os.path.join(where, 'korvanel.json'), encoding='utf-8'))
scoop, plain_scoop = scoop_of(out), scoop_of(plain)
problems = []
for manifest, where, url, homepage in ((scoop, 'GitHub', zip_url, home), (plain_scoop, 'plain server', plain_url + zip_name, plain_home)):
    problems += required(manifest, ('version', 'description', 'homepage', 'license', 'url', 'hash', 'extract_dir',
                                    'architecture', 'checkver', 'autoupdate'), where)
    problems += [f'{where}: version is {manifest.get("version")!r}'] if manifest.get('version') != version else []
    problems += [f'{where}: url and hash are {manifest.get("url")} {manifest.get("hash")}'] if (manifest.get('url'), manifest.get('hash')) != (url, sha256) else []
    problems += [f'{where}: homepage is {manifest.get("homepage")}'] if manifest.get('homepage') != homepage else []
    # Scoop's contributing guide: "If an array contains only one item, write it as a string."
    def arrays(value):
        if isinstance(value, dict):
            for item in value.values(): yield from arrays(item)
        elif isinstance(value, list):
            yield value
            for item in value: yield from arrays(item)
    problems += [f'{where}: {a} is an array of one item' for a in arrays(manifest) if len(a) == 1]
check("korvanel.json parses, carries Scoop's fields, its home page, names the zip's address and real hash, and no array of one", problems)
# Scoop's bin: a path, or an array of paths and [path, command] pairs; a path's command is the file's name.
def scoop_bins(settings):
    entries = settings.get('bin', [])
    for entry in [entries] if isinstance(entries, str) else entries:
        path, command = (entry, None) if isinstance(entry, str) else (entry[0], entry[1] if len(entry) > 1 else None)
        yield path, command or os.path.splitext(path.replace('\\', '/').rsplit('/', 1)[-1])[0]
bins = [(bits, scoop.get('extract_dir', '') + '/' + path.replace('\\', '/'), command)
        for bits, settings in (scoop.get('architecture') or {}).items() for path, command in scoop_bins(settings)]
check("each Scoop architecture's file is in the zip, a PE for that machine, beside no other build's korvanel.exe",
      [p for b, path, _ in bins for p in on_path(b, path)] + [f'no {bits}' for bits in ('32bit', '64bit') if bits not in {b for b, _, _ in bins}])
check('winget and Scoop give every build one command, korvanel',
      [f'{where}: {command!r}' for where, _, command in nested + bins if command != 'korvanel'] or ([] if nested and bins else ['none']))

# The next release: for GitHub, checkver asks GitHub for its newest release; on a plain
# server it takes the last match in the SHA256SUMS one folder up. autoupdate puts the
# new version into the address and the folder, and finds the hash in the SHA256SUMS
# beside the zip with its regex ($sha256 and $basename filled in; PowerShell's -match
# ignores case). The plain server's SHA256SUMS holds a newer release made before this
# one, and must still name it last.
next_version = version + '.1'
problems = [] if scoop.get('checkver') == {'github': home} else [f'GitHub: checkver is {scoop.get("checkver")}']
checkver = plain_scoop.get('checkver', {})
sums = open(os.path.join(plain, 'SHA256SUMS'), encoding='utf-8').read()
found = re.findall(checkver.get('regex', '^$'), sums, re.I)
problems += [] if checkver.get('reverse') and found and found[-1] == next_version else [f'plain server: checkver finds {found}']
problems += [] if checkver.get('url') == plain_home + 'SHA256SUMS' else [f'plain server: checkver reads {checkver.get("url")}']
sums += f'{"ab" * 32}  korvanel-{version}.2-windows.zip\n'
for manifest, where, url in ((scoop, 'GitHub', zip_url), (plain_scoop, 'plain server', plain_url + zip_name)):
    auto = manifest.get('autoupdate', {})
    for wanted_version, expected in ((version, sha256), (version + '.2', 'ab' * 32)):
        new_url = auto.get('url', '').replace('$version', wanted_version)
        hash_rule = auto.get('hash', {})
        pattern = hash_rule.get('regex', '').replace('$sha256', '([a-fA-F0-9]{64})').replace(
            '$basename', re.escape(new_url.rsplit('/', 1)[-1]))
        got = re.search(pattern, sums, re.I)
        got = got.group(1) if got and got.re.groups else None
        problems += [] if got and got.lower() == expected else [f'{where} {wanted_version}: the hash regex finds {got}']
        problems += [] if new_url == url.replace(version, wanted_version) else [f'{where} {wanted_version}: autoupdate fetches {new_url}']
        problems += [] if hash_rule.get('url') == '$baseurl/SHA256SUMS' else [f'{where}: the hash is read from {hash_rule.get("url")}']
        problems += [] if auto.get('extract_dir', '').replace('$version', wanted_version) == f'korvanel-{wanted_version}' else [f'{where}: autoupdate: extract_dir']
check("Scoop's checkver finds the newest release on GitHub and, made out of order, on a plain server; "
      "autoupdate each release's address and hash", problems)
sys.exit(1 if failed else 0)
EOF
exit $status
