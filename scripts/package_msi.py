#!/usr/bin/python3
"""Builds and checks Tavrolin's Windows Installer package (64-bit programs).

  package_msi.py make OUT.msi EPOCH VERSION PROGRAM.exe... QUICKSTART.txt ICON.ico
  package_msi.py check PACKAGE.msi VERSION [PROGRAM.exe...]

make builds resources/tavrolin.wxs with msitools' wixl from the files
staged in a folder of their own (dated EPOCH, the quick start as the
archives have it) and makes the package reproducible. wixl converts the
package's texts to the Windows code page of WINDOWS_LANGUAGE (zh_CN: 936;
the quick start's name and the descriptions are Chinese) and leaves the
database's code page neutral, which is set to 936 afterwards; it also
dates the summary information with the build's time and gives it a random
package code. Here the dates become EPOCH and the package code is derived
from the package's own bytes: the same inputs give the same bytes, and
any other package another code, as Windows Installer requires. The
product code is derived from the version: each version is its own product
under the one upgrade code.

check reads a package back: the summary (a 64-bit, compressed package that
asks for no elevation, its package code from its bytes), the product, its
version and upgrade code, a per-user install (no ALLUSERS) into the user's
programs folder, the Start menu shortcut "Tavrolin" to tavrolin.exe, the
code page, and the files (byte for byte against the programs given).
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from package_zip import QUICK_START, quick_start_bytes  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, 'resources', 'tavrolin.wxs')
UPGRADE_CODE = '{00A60031-B6D6-4DF0-A6DD-72588E47CE29}'
CODE_PAGE = 936
WIXL_ENV = dict(os.environ, WINDOWS_LANGUAGE='zh_CN', LC_ALL='C.UTF-8')
SUMMARY = '\x05SummaryInformation'
PID_REVISION, PID_CREATED, PID_SAVED, PID_TEMPLATE, PID_WORD_COUNT = 9, 12, 13, 7, 15
VT_LPSTR, VT_FILETIME = 30, 64
NO_GUID = '{00000000-0000-0000-0000-000000000000}'


# --- the summary information stream, inside the compound file -------------

def _u16(data, at):
    return struct.unpack_from('<H', data, at)[0]


def _u32(data, at):
    return struct.unpack_from('<I', data, at)[0]


def stream_offsets(data, name):
    """The file offset of every byte of a stream of the compound file."""
    sector, mini = 1 << _u16(data, 0x1E), 1 << _u16(data, 0x20)
    words = sector // 4

    def at(s):
        return (s + 1) * sector

    difat, following = list(struct.unpack_from('<109I', data, 0x4C)), _u32(data, 0x44)
    while following < 0xFFFFFFFA:
        entries = struct.unpack_from('<%dI' % words, data, at(following))
        difat, following = difat + list(entries[:-1]), entries[-1]
    fat = []
    for s in difat[:_u32(data, 0x2C)]:
        fat += struct.unpack_from('<%dI' % words, data, at(s))

    def chain(start):
        while start < 0xFFFFFFFA:
            yield start
            start = fat[start]

    def bytes_of(start):
        return [at(s) + i for s in chain(start) for i in range(sector)]

    directory = [data[o:o + 128] for o in bytes_of(_u32(data, 0x30))[::128]]
    for entry in directory:
        if entry[:max(_u16(entry, 0x40) - 2, 0)].decode('utf-16-le') == name:
            break
    else:
        raise ValueError('no stream %r' % name)
    start, size = _u32(entry, 0x74), _u32(entry, 0x78)
    if size >= _u32(data, 0x38):
        return bytes_of(start)[:size]
    mini_stream = bytes_of(_u32(directory[0], 0x74))
    mini_fat = []
    for s in chain(_u32(data, 0x3C)):
        mini_fat += struct.unpack_from('<%dI' % words, data, at(s))
    offsets = []
    while start < 0xFFFFFFFA:
        offsets += mini_stream[start * mini:(start + 1) * mini]
        start = mini_fat[start]
    return offsets[:size]


def summary_properties(stream):
    """pid -> (type, offset of the value) of the property set's section."""
    section = _u32(stream, 44)
    found = {}
    for i in range(_u32(stream, section + 4)):
        pid, offset = struct.unpack_from('<II', stream, section + 8 + 8 * i)
        found[pid] = (_u32(stream, section + offset), section + offset + 4)
    return found


def read_summary(data):
    offsets = stream_offsets(data, SUMMARY)
    stream = bytearray(data[o] for o in offsets)
    return offsets, stream, summary_properties(stream)


def text_property(stream, properties, pid):
    kind, at = properties[pid]
    assert kind == VT_LPSTR
    return bytes(stream[at + 4:at + 4 + _u32(stream, at) - 1]).decode('ascii')


def with_summary(data, package_code, epoch):
    """The package with that package code and both dates at epoch."""
    data = bytearray(data)
    offsets, stream, properties = read_summary(data)
    kind, at = properties[PID_REVISION]
    text = package_code.encode('ascii') + b'\0'
    if kind != VT_LPSTR or _u32(stream, at) != len(text):
        raise ValueError('unexpected package code field')
    stream[at + 4:at + 4 + len(text)] = text
    filetime = (epoch + 11644473600) * 10 ** 7
    for pid in (PID_CREATED, PID_SAVED):
        kind, at = properties[pid]
        if kind != VT_FILETIME:
            raise ValueError('unexpected date field')
        struct.pack_into('<Q', stream, at, filetime)
    for offset, byte in zip(offsets, stream):
        data[offset] = byte
    return bytes(data)


def content_code(data):
    """The package code a package's bytes give (its own code left out)."""
    digest = hashlib.sha256(with_summary(data, NO_GUID, 0)).digest()
    return '{%s}' % str(uuid.UUID(bytes=digest[:16], version=4)).upper()


# --- making and checking ----------------------------------------------------

def product_code(version):
    return '{%s}' % str(uuid.uuid5(uuid.UUID(UPGRADE_CODE), 'Tavrolin ' + version)).upper()


def run(command, **kwargs):
    subprocess.run(command, env=WIXL_ENV, check=True, stdout=subprocess.DEVNULL, **kwargs)


def make(out, epoch, version, paths):
    *programs, quick_start, icon = paths
    with tempfile.TemporaryDirectory() as folder:
        for path in programs:
            shutil.copyfile(path, os.path.join(folder, os.path.basename(path)))
        shutil.copyfile(icon, os.path.join(folder, 'tavrolin.ico'))
        with open(os.path.join(folder, 'quick-start.txt'), 'wb') as f:
            f.write(quick_start_bytes(quick_start))
        for name in os.listdir(folder):  # the cabinet keeps the files' dates
            os.utime(os.path.join(folder, name), (epoch, epoch))
        shutil.copyfile(SOURCE, os.path.join(folder, 'tavrolin.wxs'))  # wixl finds the files beside it
        built = os.path.join(folder, 'package.msi')
        run(['wixl', '-a', 'x64', '-D', 'Version=' + version, '-D', 'ProductCode=' + product_code(version),
             '-o', built, 'tavrolin.wxs'], cwd=folder)
        tables = os.path.join(folder, 'tables')
        os.mkdir(tables)
        with open(os.path.join(tables, '_ForceCodepage.idt'), 'w') as f:
            f.write('\r\n\r\n%d\t_ForceCodepage\r\n' % CODE_PAGE)
        run(['msibuild', built, '-i', os.path.join(tables, '_ForceCodepage.idt')])
        data = open(built, 'rb').read()
    with open(out, 'wb') as f:
        f.write(with_summary(data, content_code(data), epoch))


def table(path, name):
    """A table's rows, by their first column (msiinfo converts from the package's code page)."""
    text = subprocess.run(['msiinfo', 'export', path, name], env=WIXL_ENV, capture_output=True,
                          check=True).stdout.decode('utf-8')
    lines = text.split('\r\n')
    if name == '_ForceCodepage':
        return {'codepage': lines[2].split('\t')[0]}
    return {row.split('\t')[0]: row.split('\t') for row in lines[3:] if row}


def check(path, version, programs):
    data = open(path, 'rb').read()
    _, stream, properties = read_summary(data)
    template = text_property(stream, properties, PID_TEMPLATE)
    word_count = _u32(stream, properties[PID_WORD_COUNT][1])
    if not template.startswith('x64;'):
        return 'template %s: not a 64-bit package' % template
    if word_count & 2 == 0 or word_count & 8 == 0:
        return 'word count %d: not compressed, or asks for elevation' % word_count
    if text_property(stream, properties, PID_REVISION) != content_code(data):
        return 'the package code is not the one its bytes give'
    if table(path, '_ForceCodepage')['codepage'] != str(CODE_PAGE):
        return 'the database code page is not %d' % CODE_PAGE
    values = {k: row[1] for k, row in table(path, 'Property').items()}
    wanted = {'ProductName': 'Tavrolin', 'ProductVersion': version, 'UpgradeCode': UPGRADE_CODE,
              'ProductCode': product_code(version)}
    for key, value in wanted.items():
        if values.get(key, '').upper() != value.upper():
            return 'property %s is %r, expected %r' % (key, values.get(key), value)
    if 'ALLUSERS' in values:
        return 'ALLUSERS is set: not a per-user package'
    directories = table(path, 'Directory')
    place, folder = [], 'INSTALLDIR'
    while folder and folder in directories:
        place.insert(0, directories[folder][2] if directories[folder][2] != '.' else folder)
        folder = directories[folder][1]
    if place[1:] != ['LocalAppDataFolder', 'Programs', 'Tavrolin']:
        return 'installs into %s' % '\\'.join(place)
    shortcut = table(path, 'Shortcut').get('TavrolinShortcut', [])
    if shortcut[1:5] != ['ProgramMenuFolder', 'Tavrolin', 'StartMenuShortcut', '[INSTALLDIR]tavrolin.exe']:
        return 'Start menu shortcut %r' % shortcut
    names = sorted(row[2] for row in table(path, 'File').values())
    if names != sorted(['tavrolin.exe', 'tavrolin-cli.exe', 'readersim.exe', QUICK_START]):
        return 'files %s' % names
    with tempfile.TemporaryDirectory() as folder:
        run(['msiextract', '-C', folder, path])
        installed = os.path.join(folder, 'Programs', 'Tavrolin')
        for program in programs:
            if open(os.path.join(installed, os.path.basename(program)), 'rb').read() != open(program, 'rb').read():
                return '%s differs from the program given' % os.path.basename(program)
        if not open(os.path.join(installed, QUICK_START), 'rb').read().startswith(b'\xef\xbb\xbf'):
            return '%s is not the quick start as shipped' % QUICK_START
    return None


if __name__ == '__main__':
    if len(sys.argv) >= 8 and sys.argv[1] == 'make':
        make(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5:])
    elif len(sys.argv) >= 4 and sys.argv[1] == 'check':
        problem = check(sys.argv[2], sys.argv[3], sys.argv[4:])
        if problem:
            sys.exit('%s: %s' % (sys.argv[2], problem))
        print('%s: %d bytes; version %s, upgrade code %s, package code from its bytes; 64-bit, per user '
              '(no elevation, %%LOCALAPPDATA%%\\Programs\\Tavrolin), Start menu shortcut "Tavrolin" to '
              'tavrolin.exe, code page %d; %s%s' %
              (sys.argv[2], os.path.getsize(sys.argv[2]), sys.argv[3], UPGRADE_CODE, CODE_PAGE,
               ', '.join(['tavrolin.exe', 'tavrolin-cli.exe', 'readersim.exe', QUICK_START]),
               ' (programs byte-identical)' if len(sys.argv) > 4 else ''))
    else:
        sys.exit(__doc__)
