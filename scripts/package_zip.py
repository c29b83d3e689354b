#!/usr/bin/python3
"""Writes and checks Tavrolin's release archives.

  package_zip.py make OUT.zip EPOCH PROGRAM.exe... QUICKSTART.txt
  package_zip.py check ARCHIVE.zip

make writes the programs, the quick start (as 使用说明.txt: UTF-8 with a BOM
and CRLF line ends, so that Notepad shows it right) and SHA256SUMS (of the
other entries, `sha256sum` format) in that order, every entry dated EPOCH
(seconds; the commit's time) with fixed attributes: the same inputs give
the same bytes. check verifies an archive's entries against its SHA256SUMS
and that it holds the three programs and the quick start.
"""
import hashlib
import io
import sys
import time
import zipfile

PROGRAMS = ('tavrolin.exe', 'tavrolin-cli.exe', 'readersim.exe')
QUICK_START = '使用说明.txt'
SUMS = 'SHA256SUMS'


def entry(name, epoch):
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates start in 1980
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0
    info.external_attr = 0
    return info


def make(out, epoch, paths):
    *programs, quick_start = paths
    files = [(p.rsplit('/', 1)[-1], open(p, 'rb').read()) for p in programs]
    text = open(quick_start, encoding='utf-8').read().replace('\r\n', '\n').lstrip('\ufeff')
    files.append((QUICK_START, ('\ufeff' + text.replace('\n', '\r\n')).encode('utf-8')))
    sums = ''.join('%s  %s\n' % (hashlib.sha256(data).hexdigest(), name) for name, data in files)
    files.append((SUMS, sums.encode('utf-8')))
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for name, data in files:
            archive.writestr(entry(name, epoch), data, compresslevel=9)
    with open(out, 'wb') as f:
        f.write(buffer.getvalue())


def check(path):
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        expected = list(PROGRAMS) + [QUICK_START, SUMS]
        if names != expected:
            return 'entries %s, expected %s' % (names, expected)
        listed = {}
        for line in archive.read(SUMS).decode('utf-8').splitlines():
            digest, name = line.split('  ', 1)
            listed[name] = digest
        for name in expected[:-1]:
            if listed.get(name) != hashlib.sha256(archive.read(name)).hexdigest():
                return 'checksum of %s does not match SHA256SUMS' % name
        text = archive.read(QUICK_START)
        if not text.startswith(b'\xef\xbb\xbf') or b'\n' in text.replace(b'\r\n', b''):
            return '%s is not UTF-8 with a BOM and CRLF line ends' % QUICK_START
    return None


if __name__ == '__main__':
    if len(sys.argv) >= 5 and sys.argv[1] == 'make':
        make(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif len(sys.argv) == 3 and sys.argv[1] == 'check':
        problem = check(sys.argv[2])
        if problem:
            sys.exit('%s: %s' % (sys.argv[2], problem))
        print('%s: %s, checksums match' % (sys.argv[2], ', '.join(PROGRAMS + (QUICK_START, SUMS))))
    else:
        sys.exit(__doc__)
