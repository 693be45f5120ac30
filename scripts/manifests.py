#!/usr/bin/env python3
"""Writes the winget manifest set and the Scoop manifest for a release zip.

Usage: manifests.py VERSION HOME FILES ZIP OUT
       manifests.py VERSION HOME FILES --check     only says whether the addresses will do
       manifests.py VERSION --notes NOTES          only what a tag asks: writes VERSION's section
                                                   of CHANGELOG.md into NOTES and prints its date

HOME is the project's home page. FILES is where the release's files are
published: "github" for the assets of the GitHub release tagged vVERSION (HOME
is then https://github.com/OWNER/REPO), or the address of the version's own
folder on a plain web server (https://example.org/korvanel/VERSION/), whose
SHA256SUMS one folder up lists every release. Only https addresses are taken.
A version's section of CHANGELOG.md is under "## [VERSION] - YYYY-MM-DD" and
nothing else; for a tag, [Unreleased] must list nothing either.
Writes OUT/korvanel.json and OUT/winget/manifests/k/Korvanel/Korvanel/VERSION/,
laid out as the winget community repository keeps them. The same arguments give
the same bytes.
"""
import datetime
import hashlib
import json
import os
import re
import sys

IDENTIFIER = 'Korvanel.Korvanel'
MANIFEST_VERSION = '1.12.0'  # the newest the community repository accepts
COMMAND = 'korvanel'
# Each architecture's folder in the zip, holding korvanel.exe: wherever winget puts
# the folder on PATH instead of making the alias, `korvanel` is still that build.
BUILDS = (('x86', '32bit'), ('x64', '64bit'))
TEXTS = {
    'en-US': dict(Publisher='The Korvanel developers', PackageName='Korvanel',
                  ShortDescription='Sets the scheduling priority of the thread that created a given window.',
                  Description='Korvanel finds a top-level window by its class and/or title and sets the scheduling '
                              'priority of the thread that created it, from IDLE to TIME_CRITICAL. It is one small '
                              'program with no window of its own: it shows a message box only for help or an error.',
                  Tags=['priority', 'thread', 'scheduling', 'window', 'portable']),
    'ja-JP': dict(Publisher='Korvanel の開発者', PackageName='Korvanel',
                  ShortDescription='指定したウィンドウを作成したスレッドのスケジューリング優先度を設定します。',
                  Description='Korvanel は、クラス名やタイトルで指定したトップレベル ウィンドウを探し、そのウィンドウを'
                              '作成したスレッドのスケジューリング優先度を IDLE から TIME_CRITICAL までの値に設定します。'
                              '自身のウィンドウを持たない小さなプログラムで、メッセージ ボックスを表示するのはヘルプと'
                              'エラーのときだけです。',
                  Tags=['優先度', 'スレッド', 'スケジューリング', 'ウィンドウ', 'ポータブル']),
}


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8', newline='\n') as out:
        out.write(text)


def winget(version, release, zip_url, folder, sha256, out):
    import yaml  # only here: the tag check runs where PyYAML may be missing
    common = {'PackageIdentifier': IDENTIFIER, 'PackageVersion': version}
    documents = {
        '': dict(common, DefaultLocale='en-US', ManifestType='version'),
        '.installer': dict(common, InstallerType='zip', NestedInstallerType='portable', Installers=[
            {'Architecture': architecture,
             'NestedInstallerFiles': [{'RelativeFilePath': f'{folder}\\{architecture}\\korvanel.exe',
                                       'PortableCommandAlias': COMMAND}],
             'InstallerUrl': zip_url, 'InstallerSha256': sha256.upper()}
            for architecture, _ in BUILDS], ReleaseDate=release['date'], ManifestType='installer'),
    }
    for locale, texts in TEXTS.items():
        kind = 'defaultLocale' if locale == 'en-US' else 'locale'
        documents[f'.locale.{locale}'] = dict(
            common, PackageLocale=locale, Publisher=texts['Publisher'], PublisherUrl=release['publisher'],
            PackageName=texts['PackageName'], PackageUrl=release['home'], License='MIT',
            **({'LicenseUrl': release['license']} if 'license' in release else {}),
            ShortDescription=texts['ShortDescription'], Description=texts['Description'],
            **({'Moniker': COMMAND} if kind == 'defaultLocale' else {}), Tags=texts['Tags'],
            **({'ReleaseNotesUrl': release['notes']} if 'notes' in release else {}), ManifestType=kind)
    for suffix, document in documents.items():
        document['ManifestVersion'] = MANIFEST_VERSION
        schema = {'': 'version', '.installer': 'installer'}.get(suffix, document['ManifestType'])
        write(os.path.join(out, 'winget', 'manifests', 'k', 'Korvanel', 'Korvanel', version,
                           f'{IDENTIFIER}{suffix}.yaml'),
              f'# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema}.{MANIFEST_VERSION}.schema.json\n'
              + yaml.safe_dump(document, sort_keys=False, allow_unicode=True, width=1000))


def scoop(version, release, zip_url, folder, sha256, out):
    zip_name = zip_url.rsplit('/', 1)[1]
    new_zip_url = zip_url.replace(version, '$version')
    if release['github']:
        checkver = {'github': release['home']}  # the tag of GitHub's newest release
    else:
        # package.sh keeps SHA256SUMS sorted by version, so the last match is the newest
        # release, whatever order the releases were made in.
        checkver = {'url': release['files'][:-len(version) - 1] + 'SHA256SUMS',
                    'regex': zip_name.replace(version, '([\\d.]+)').replace('.zip', '\\.zip'), 'reverse': True}
    manifest = {
        'version': version,
        'description': TEXTS['en-US']['ShortDescription'].rstrip('.'),
        'homepage': release['home'],
        'license': 'MIT',
        'url': zip_url,
        'hash': sha256,
        'extract_dir': folder,
        # Scoop names the command after the file, korvanel; one item is a string, not an array.
        'architecture': {bits: {'bin': f'{architecture}\\{COMMAND}.exe'} for architecture, bits in BUILDS},
        'checkver': checkver,
        'autoupdate': {
            'url': new_zip_url,
            'extract_dir': folder.replace(version, '$version'),
            'hash': {'url': '$baseurl/SHA256SUMS', 'regex': '$sha256\\s+\\*?$basename\\s'},
        },
    }
    write(os.path.join(out, 'korvanel.json'), json.dumps(manifest, indent=4, ensure_ascii=False) + '\n')


def changelog_section(version, text, tagged=False):
    """VERSION's date and notes in CHANGELOG.md's TEXT, or a one-line reason why there are none.
    The one rule for a release's heading, for the tag check and the manifests alike."""
    sections = re.split(r'^(?=## )', text, flags=re.M)
    unreleased = [s for s in sections if s.startswith('## [Unreleased]')]
    listed = unreleased and [line for line in unreleased[0].splitlines()[1:]
                             if line.strip() and not re.match(r'(### |\[[^\]]*\]: )', line)]
    if tagged and listed:
        return ('CHANGELOG.md lists changes under [Unreleased], which this release would ship without '
                f'naming them: move them into the section of {version}')
    for section in sections:
        heading, _, body = section.partition('\n')
        if not heading.startswith(f'## [{version}]'):
            continue
        dated = re.fullmatch(rf'## \[{re.escape(version)}\] - (\d{{4}}-\d{{2}}-\d{{2}})', heading.rstrip('\r'))
        try:
            date = datetime.date.fromisoformat(dated[1]).isoformat() if dated else None
        except ValueError:
            date = None
        if not date:
            return f'CHANGELOG.md: the heading {heading!r} is not "## [{version}] - YYYY-MM-DD" with a real date'
        notes = '\n'.join(line for line in body.splitlines() if not re.match(r'\[[^\]]*\]: ', line)).strip('\n')
        return (date, notes) if notes.strip() else f'CHANGELOG.md: the section of {version} is empty'
    return f'CHANGELOG.md has no section "## [{version}] - YYYY-MM-DD"'


def release_of(version, home, files):
    """The release's addresses and date, or a one-line reason why there are none."""
    address = r'https://[^\s"\'<>\\]+'
    for what, value in (('--home', home), ('--url', files if files != 'github' else 'https://github.com/')):
        if not re.fullmatch(address, value):
            return f'{what} {value!r}: only https:// addresses are taken (winget\'s community repository requires them)'
    section = changelog_section(version, open('CHANGELOG.md', encoding='utf-8').read())
    if isinstance(section, str):
        return section
    release = {'home': home, 'date': section[0], 'github': files == 'github', 'publisher': home}
    if files == 'github':
        home = release['home'] = release['publisher'] = home.rstrip('/')
        repository = re.fullmatch(r'https://github\.com/([\w.-]+)/([\w.-]+)', home)
        if not repository:
            return f'--home {home!r}: the files go to GitHub Releases only for a home https://github.com/OWNER/REPO'
        tree = f'{home}/blob/v{version}'
        anchor = re.sub(r'[^\w\- ]', '', f'[{version}] - {release["date"]}').replace(' ', '-')
        release.update(files=f'{home}/releases/download/v{version}/', publisher=f'https://github.com/{repository[1]}',
                       license=f'{tree}/LICENSE', notes=f'{tree}/CHANGELOG.md#{anchor}')
    else:
        release['files'] = files + ('' if files.endswith('/') else '/')
        if not release['files'].endswith(f'/{version}/'):
            return f'--url {files!r} must end with the version\'s folder, /{version}/'
    return release


def main(version, home, files, zip_path=None, out=None):
    release = release_of(version, home, files)
    if isinstance(release, str):
        sys.exit(f'package: {release}')
    if zip_path is None:  # --check
        return
    sha256 = hashlib.sha256(open(zip_path, 'rb').read()).hexdigest()
    folder = f'korvanel-{version}'
    zip_url = release['files'] + os.path.basename(zip_path)
    winget(version, release, zip_url, folder, sha256, out)
    scoop(version, release, zip_url, folder, sha256, out)


def notes(version, path):
    section = changelog_section(version, open('CHANGELOG.md', encoding='utf-8').read(), tagged=True)
    if isinstance(section, str):
        sys.exit(f'release: {section}')
    with open(path, 'w', encoding='utf-8', newline='\n') as out:
        out.write(section[1] + '\n')
    print(section[0])


if __name__ == '__main__':
    if len(sys.argv) == 4 and sys.argv[2] == '--notes':
        notes(sys.argv[1], sys.argv[3])
    elif sys.argv[4:] == ['--check']:
        main(*sys.argv[1:4])
    elif len(sys.argv) == 6 and '--check' not in sys.argv:
        main(*sys.argv[1:])
    else:
        sys.exit(__doc__)
