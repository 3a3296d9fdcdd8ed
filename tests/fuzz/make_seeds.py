#!/usr/bin/env python3
"""Writes a small seed corpus for every fuzz target: make_seeds.py DIR.

DIR/<target>/ gets a few inputs that reach the parser's main paths. Nothing
binary is committed; the seeds are made here each time.
"""
import os
import struct
import sys

KEY = 0xD0  # the hash database's key byte


def scramble(text):
    return bytes(b ^ KEY for b in text)


def pe_image(sections, e_lfanew=0x80, bad_pointer=False):
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, e_lfanew)
    body = bytearray(dos) + bytearray(e_lfanew - len(dos))
    body += b"PE\0\0"
    body += struct.pack("<HHIIIHH", 0x14C, len(sections), 0, 0, 0, 0xE0, 0x102)
    body += bytearray(0xE0)
    data_at = len(body) + 40 * len(sections)
    raw = b""
    for name, payload in sections:
        pointer = 0x7FFFFFF0 if bad_pointer else data_at + len(raw)
        body += struct.pack("<8sIIIIIIHHI", name, len(payload), 0x1000, len(payload), pointer,
                            0, 0, 0, 0, 0x60000020)
        raw += payload
    return bytes(body) + raw


def utf16(text):
    return text.encode("utf-16-le")


SEEDS = {
    "fuzz_hash_database": {
        "two": scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\nD41D8CD98F00B204E9800998ECF8427E\r\n"),
        "run": scramble(b"44D88612FEA8A8F36DE82E1278ABB02FD41D8CD98F00B204E9800998ECF8427E"),
        "zero": scramble(b"44D88612FEA8A8F3") + b"\0" + scramble(b"6DE82E1278ABB02F"),
    },
    "fuzz_text_conversion": {
        "ascii": b"C:\\Users\\a\\file.exe",
        "bad": b"caf\xc3\xa9 \xff\xfe \xed\xa0\x80",
        "wide": utf16("C:\\Windows\\\u00e9\u4e2d"),
    },
    "fuzz_pe_sections": {
        "ok": pe_image([(b".text", b"\x90" * 64), (b".data", b"A" * 32), (b"x", b"B" * 16)]),
        "badptr": pe_image([(b".text", b"\x90" * 64)], bad_pointer=True),
        "lfanew": pe_image([(b".text", b"\x90" * 8)], e_lfanew=0x40),
        "mz": b"MZ" + b"\0" * 62,
    },
    "fuzz_translate_path": {
        "service": utf16('"C:\\Program Files\\x\\a.exe" /k netsvcs'),
        "driver": utf16("\\SystemRoot\\System32\\drivers\\x.sys"),
        "tilde": utf16("C:\\PROGRA~1\\x.exe -y"),
        "token": utf16("%programfiles(x86)%\\app\\b.dll,Entry"),
    },
    "fuzz_registry_value": {
        "sz": b"\x01" + utf16("C:\\Windows\\x.exe\0"),
        "dword": b"\x04\x01\x00\x00\x00",
        "multi": b"\x07" + utf16("a.dll\0b.dll\0\0"),
        "odd": b"\x01" + b"A\x00B",
    },
    "fuzz_windows_path": {
        "abs": utf16("C:\\tmp\\..\\x\\y. .\\z"),
        "rel": utf16("..\\data\\hashdb.dbf"),
        "drive": utf16("Q:/a/b"),
        "unc": utf16("\\\\?\\C:\\a"),
    },
    "fuzz_report_text": {  # first byte: 1 for a debug line
        "line": b"\0" + utf16(" Infected Generic Malware: c:\\x.exe [(null)]."),
        "bad": b"\1\x80\xdc\x00\xd8x\x00",  # lone surrogates
        "breaks": b"\0" + utf16(" Hidden process: a\nb %s%n\n"),
    },
    "fuzz_hash_list": {
        "md5sum": b"44d88612fea8a8f36de82e1278abb02f  eicar.com\n",
        "hdb": b"44d88612fea8a8f36de82e1278abb02f:68:Eicar-Test\n",
        "plain": b"D41D8CD98F00B204E9800998ECF8427E\r\n\r\nnot a hash\n",
    },
    "fuzz_scan_record": {
        "fresh": utf16("0|0||").ljust(2048, b"\0"),
        "full": utf16("7|1|C:\\a.txt|C:\\bad.exe").ljust(2048, b"\0"),
        "bars": utf16("-2147483649|99999999999|a|b|c|d"),
        "odd": b"7\x00|\x001",
    },
    "fuzz_data_record": {
        "full": utf16("12|3|C:\\a.txt|C:\\bad.exe").ljust(2048, b"\0"),
        "two": utf16("12|3").ljust(2048, b"\0"),
        "zeros": utf16("1|2|a") + b"\0\0" + utf16("|b|c"),
    },
    "fuzz_watch_records": {  # first byte: 0 inotify, 1 fanotify
        "inotify": b"\0" + struct.pack("<iIII", 1, 0x100, 0, 8) + b"a.exe\0\0\0",
        "fanotify": b"\1" + struct.pack("<IBBHQii", 24 + 4 + 8 + 8 + 8 + 6, 3, 0, 24, 0x100, -1, 7)
        + struct.pack("<BBH", 2, 0, 4 + 8 + 8 + 8 + 6) + b"\0" * 8
        + struct.pack("<Ii", 8, 1) + b"\1" * 8 + b"a.exe\0",
        "short": b"\1" + struct.pack("<IBBH", 999, 3, 0, 24),
    },
    "fuzz_service_hash_list": {  # the check's lookup against the text it was built from
        "lines": b"44D88612FEA8A8F36DE82E1278ABB02F\r\nD41D8CD98F00B204E9800998ECF8427E\r\n",
        "long": b"x" * 500 + b"44D88612FEA8A8F36DE82E1278ABB02F\n",
        "zero": b"44D88612FEA8A8F3\0" + b"6DE82E1278ABB02F\n",
    },
    "fuzz_reg_location": {
        "run": utf16("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run|x|C:\\a.exe -q"),
    },
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    for target, seeds in SEEDS.items():
        folder = os.path.join(root, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
