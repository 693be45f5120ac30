#!/usr/bin/env python3
"""Writes the winget manifest set and the Scoop manifest for a release zip.

Usage: manifests.py VERSION URL ZIP OUT

URL is the address the release's files will be published at, ending with the
version's own folder (https://example.org/korvanel/1.0.0/). Scoop finds the next
release by the SHA256SUMS one folder up, and takes its hash from the SHA256SUMS
beside it. Writes OUT/korvanel.json and OUT/winget/manifests/k/Korvanel/Korvanel/
VERSION/, laid out as the winget community repository keeps them. The same
arguments give the same bytes.
"""
import hashlib
import json
import os
import re
import sys

import yaml

IDENTIFIER = 'Korvanel.Korvanel'
MANIFEST_VERSION = '1.12.0'  # the newest the community repository accepts
DESCRIPTION = 'Sets the scheduling priority of the thread that created a given window'
COMMAND = 'korvanel'
# Each architecture's file in the zip's folder. The 32-bit build runs on every
# Windows; each package manager picks the build of the machine it runs on.
BUILDS = (('x86', '32bit', 'korvanel.exe'), ('x64', '64bit', 'korvanel-x64.exe'))


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8', newline='\n') as out:
        out.write(text)


def winget(version, url, folder, sha256, out):
    common = {'PackageIdentifier': IDENTIFIER, 'PackageVersion': version}
    documents = {
        '': dict(common, DefaultLocale='en-US', ManifestType='version'),
        '.installer': dict(common, InstallerType='zip', NestedInstallerType='portable', Installers=[
            {'Architecture': architecture,
             'NestedInstallerFiles': [{'RelativeFilePath': f'{folder}\\{name}', 'PortableCommandAlias': COMMAND}],
             'InstallerUrl': url, 'InstallerSha256': sha256.upper()}
            for architecture, _, name in BUILDS], ManifestType='installer'),
        '.locale.en-US': dict(common, PackageLocale='en-US', Publisher='The Korvanel developers',
                              PackageName='Korvanel', License='MIT', ShortDescription=DESCRIPTION + '.',
                              Moniker=COMMAND, ManifestType='defaultLocale'),
    }
    for suffix, document in documents.items():
        document['ManifestVersion'] = MANIFEST_VERSION
        schema = {'': 'version', '.installer': 'installer'}.get(suffix, 'defaultLocale')
        write(os.path.join(out, 'winget', 'manifests', 'k', 'Korvanel', 'Korvanel', version,
                           f'{IDENTIFIER}{suffix}.yaml'),
              f'# yaml-language-server: $schema=https://aka.ms/winget-manifest.{schema}.{MANIFEST_VERSION}.schema.json\n'
              + yaml.safe_dump(document, sort_keys=False, allow_unicode=True, width=1000))


def scoop(version, url, base, folder, sha256, out):
    zip_name = url.rsplit('/', 1)[1]
    manifest = {
        'version': version,
        'description': DESCRIPTION,
        'homepage': base,
        'license': 'MIT',
        'url': url,
        'hash': sha256,
        'extract_dir': folder,
        'architecture': {bits: {'bin': [[name, COMMAND]]} for _, bits, name in BUILDS},
        'checkver': {'url': base + 'SHA256SUMS', 'regex': zip_name.replace(version, '([\\d.]+)').replace('.zip', '\\.zip'),
                     'reverse': True},  # the last line is the newest release
        'autoupdate': {
            'url': base + '$version/' + zip_name.replace(version, '$version'),
            'extract_dir': folder.replace(version, '$version'),
            'hash': {'url': '$baseurl/SHA256SUMS', 'regex': '$sha256\\s+\\*?$basename\\s'},
        },
    }
    write(os.path.join(out, 'korvanel.json'), json.dumps(manifest, indent=4) + '\n')


def main(version, url, zip_path, out):
    url += '' if url.endswith('/') else '/'
    if not re.fullmatch(r'https?://[^\s"\'<>\\]+', url) or not url.endswith(f'/{version}/'):
        sys.exit(f'package: --url {url!r} is no http(s) address that ends with the version\'s folder, /{version}/')
    base = url[:-len(version) - 1]
    sha256 = hashlib.sha256(open(zip_path, 'rb').read()).hexdigest()
    folder = f'korvanel-{version}'
    url += os.path.basename(zip_path)
    winget(version, url, folder, sha256, out)
    scoop(version, url, base, folder, sha256, out)


if __name__ == '__main__':
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
