#!/usr/bin/python3
"""Writes and checks Tavrolin's release archives.

  package_zip.py make OUT.zip EPOCH PROGRAM.exe... QUICKSTART.txt
  package_zip.py check ARCHIVE.zip

make writes the programs, the quick start (as 使用说明.txt: UTF-8 with a BOM
and CRLF line ends, so that Notepad shows it right) and SHA256SUMS (of the
other entries, `sha256sum` format) in that order, every entry dated EPOCH
(seconds; the commit's time) with ordinary permissions (rw-r--r--): the
same inputs give the same bytes.

Every extractor a technician uses must show 使用说明.txt. Windows' own
(Explorer on Chinese Windows 7 and later) reads names without the UTF-8 flag
in the OEM code page, 936 there; Info-ZIP unzip and 7-Zip read the Info-ZIP
Unicode Path extra field (0x7075). So a name beyond ASCII is stored in code
page 936, without the UTF-8 flag, with that field carrying it in UTF-8.

check verifies an archive's entries against its SHA256SUMS, that it holds
the three programs and the quick start, how the names are stored, and
that Info-ZIP unzip lists and extracts them by their names with those
permissions.
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

PROGRAMS = ('tavrolin.exe', 'tavrolin-cli.exe', 'readersim.exe')
QUICK_START = '使用说明.txt'
SUMS = 'SHA256SUMS'
NAME_CODE_PAGE = 'gbk'     # Windows code page 936
UNICODE_PATH = 0x7075      # Info-ZIP Unicode Path extra field
UTF8_FLAG = 0x800
MADE_BY_UNIX = 3 << 8 | 20
MODE = 0o100644            # a regular file, rw-r--r--
DOS_ARCHIVE = 0x20


def quick_start_bytes(path):
    """The quick start as shipped: UTF-8 with a BOM and CRLF line ends."""
    text = open(path, encoding='utf-8').read().replace('\r\n', '\n').lstrip('\ufeff')
    return ('\ufeff' + text.replace('\n', '\r\n')).encode('utf-8')


def dos_date_time(epoch):
    t = time.gmtime(max(epoch, 315532800))  # zip dates start in 1980
    return (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2,
            (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday)


def stored_name(name):
    """The name's bytes in the header and its extra field."""
    raw = name.encode(NAME_CODE_PAGE)
    if name.isascii():
        return raw, b''
    utf8 = name.encode('utf-8')
    return raw, struct.pack('<HHBI', UNICODE_PATH, 5 + len(utf8), 1, zlib.crc32(raw)) + utf8


def make(out, epoch, paths):
    *programs, quick_start = paths
    files = [(p.rsplit('/', 1)[-1], open(p, 'rb').read()) for p in programs]
    files.append((QUICK_START, quick_start_bytes(quick_start)))
    sums = ''.join('%s  %s\n' % (hashlib.sha256(data).hexdigest(), name) for name, data in files)
    files.append((SUMS, sums.encode('utf-8')))

    clock, date = dos_date_time(epoch)
    body, directory = bytearray(), bytearray()
    for name, data in files:
        raw, extra = stored_name(name)
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = packer.compress(data) + packer.flush()
        fields = (20, 0, 8, clock, date, zlib.crc32(data), len(packed), len(data), len(raw), len(extra))
        offset = len(body)
        body += struct.pack('<IHHHHHIIIHH', 0x04034B50, *fields) + raw + extra + packed
        directory += struct.pack('<IH', 0x02014B50, MADE_BY_UNIX) + struct.pack('<HHHHHIIIHH', *fields)
        directory += struct.pack('<HHHII', 0, 0, 0, MODE << 16 | DOS_ARCHIVE, offset) + raw + extra
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(files), len(files), len(directory), len(body), 0)
    with open(out, 'wb') as f:
        f.write(bytes(body + directory + end))


def central_directory(archive):
    """Each entry's stored name, extra field, flags and attributes, read
    from the central directory as they are (not as any reader takes them)."""
    end = archive.rindex(struct.pack('<I', 0x06054B50))
    count, size, start = struct.unpack_from('<HII', archive, end + 10)
    entries, at = [], start
    for _ in range(count):
        (flags, name_length, extra_length, comment_length,
         attributes) = struct.unpack_from('<8xH18xHHH4xI', archive, at)
        name = archive[at + 46:at + 46 + name_length]
        extra = archive[at + 46 + name_length:at + 46 + name_length + extra_length]
        entries.append((name, extra, flags, attributes))
        at += 46 + name_length + extra_length + comment_length
    return entries


def unicode_path(raw, extra):
    """The UTF-8 name of a Unicode Path field that belongs to raw, or None."""
    at = 0
    while at + 4 <= len(extra):
        kind, size = struct.unpack_from('<HH', extra, at)
        if kind == UNICODE_PATH and size >= 5 and extra[at + 4] == 1:
            if struct.unpack_from('<I', extra, at + 5)[0] == zlib.crc32(raw):
                return extra[at + 9:at + 4 + size].decode('utf-8')
        at += 4 + size
    return None


def check_names(archive):
    names = []
    for raw, extra, flags, attributes in central_directory(archive):
        if flags & UTF8_FLAG:
            return None, 'an entry carries the UTF-8 flag'
        name = raw.decode(NAME_CODE_PAGE)
        if not name.isascii() and unicode_path(raw, extra) != name:
            return None, '%s has no Unicode Path field with its name' % name
        if attributes >> 16 != MODE:
            return None, '%s has mode %o, expected %o' % (name, attributes >> 16, MODE)
        names.append(name)
    return names, None


def check_with_unzip(path, names, contents):
    """Info-ZIP unzip, as a technician's Linux machine runs it."""
    env = dict(os.environ, LC_ALL='C.UTF-8')
    listed = subprocess.run(['unzip', '-Z1', path], env=env, capture_output=True, check=True)
    if listed.stdout.decode('utf-8').splitlines() != names:
        return 'unzip lists %r' % listed.stdout.decode('utf-8', 'replace').splitlines()
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(['unzip', '-q', path, '-d', folder], env=env, check=True)
        for name in names:
            target = os.path.join(folder, name)
            if not os.path.isfile(target):
                return 'unzip extracted no %s' % name
            if os.stat(target).st_mode & 0o777 != MODE & 0o777:
                return 'unzip extracted %s as %o' % (name, os.stat(target).st_mode & 0o777)
            if open(target, 'rb').read() != contents[name]:
                return 'unzip extracted %s with other contents' % name
    return None


def check(path):
    archive = open(path, 'rb').read()
    names, problem = check_names(archive)
    if problem:
        return problem
    expected = list(PROGRAMS) + [QUICK_START, SUMS]
    if names != expected:
        return 'entries %s, expected %s' % (names, expected)
    contents = read_entries(archive)
    listed = {}
    for line in contents[SUMS].decode('utf-8').splitlines():
        digest, name = line.split('  ', 1)
        listed[name] = digest
    for name in expected[:-1]:
        if listed.get(name) != hashlib.sha256(contents[name]).hexdigest():
            return 'checksum of %s does not match SHA256SUMS' % name
    text = contents[QUICK_START]
    if not text.startswith(b'\xef\xbb\xbf') or b'\n' in text.replace(b'\r\n', b''):
        return '%s is not UTF-8 with a BOM and CRLF line ends' % QUICK_START
    return check_with_unzip(path, names, contents)


def read_entries(archive):
    """Every entry's contents, by its name, from the local headers."""
    contents, at = {}, 0
    while archive[at:at + 4] == b'PK\x03\x04':
        (method, crc, packed_size, size, name_length,
         extra_length) = struct.unpack_from('<8xH4xIIIHH', archive, at)
        name = archive[at + 30:at + 30 + name_length].decode(NAME_CODE_PAGE)
        start = at + 30 + name_length + extra_length
        packed = archive[start:start + packed_size]
        data = zlib.decompress(packed, -15) if method == 8 else packed
        if len(data) != size or zlib.crc32(data) != crc:
            raise ValueError('%s is damaged' % name)
        contents[name] = data
        at = start + packed_size
    return contents


if __name__ == '__main__':
    if len(sys.argv) >= 5 and sys.argv[1] == 'make':
        make(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif len(sys.argv) == 3 and sys.argv[1] == 'check':
        problem = check(sys.argv[2])
        if problem:
            sys.exit('%s: %s' % (sys.argv[2], problem))
        print('%s: %s, checksums match; names in code page 936 with their UTF-8 Unicode Path field, '
              'rw-r--r--, as Info-ZIP unzip lists and extracts them' % (sys.argv[2], ', '.join(PROGRAMS + (QUICK_START, SUMS))))
    else:
        sys.exit(__doc__)
