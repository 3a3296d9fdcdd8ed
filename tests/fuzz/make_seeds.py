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
    "fuzz_hash_database": {  # first byte: 1 for a file extended to 4 GiB
        "two": b"\0" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\nD41D8CD98F00B204E9800998ECF8427E\r\n"),
        "run": b"\0" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02FD41D8CD98F00B204E9800998ECF8427E"),
        "zero": b"\0" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\n") + b"\0"
        + scramble(b"D41D8CD98F00B204E9800998ECF8427E\r\n"),
        "keybyte": b"\0" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\n") + bytes([KEY])
        + scramble(b"D41D8CD98F00B204E9800998ECF8427E\r\n"),
        "empty": b"\0",
        "toolarge": b"\1" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\n"),
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
    "fuzz_finding_line": {
        "file": b" Infected Generic Malware: C:\\Temp\\a.exe [(null)].\n",
        "registry": b"\r Infected Generic Malware: C:\\r.exe [DoScanRegistryLocations: "
                    b"HKEY_CURRENT_USER\\Software\\Run\\r].\n",
        "nobracket": b" Infected Generic Malware: c:\\x [open",
        "summary": b" Scan Finished!, 12 Object Scanned, 3 Infected Object Found.",
    },
    "fuzz_record_header": {
        "full": utf16("OVQF\n\rEngine: Orvane Anti-Malware\n\rFile Name: C:\\a.exe \n\r"
                      "File Location: HKEY_CURRENT_USER\\Run\\a\n\rMalware Type: Generic Malware\n\r")
        + bytes(300),
        "cut": utf16("OVQF\n\rEngine: Orvane Anti-Malware\n\rFile Name: C:\\" + "d" * 240),
    },
    "fuzz_report_summary": {
        "found": b"\n\r\n\r Scan Finished!, 12 Object Scanned, 3 Infected Object Found.\n\r",
        "none": b" Scan Finished!, 7 Object Scanned, No Infected Found.",
        "old": b"Object Scand, 99999999999999 Infected",
    },
    "fuzz_report_name": {
        "report": utf16("Orvane_3.5.2026.7.8.9.log"),
        "short": utf16("Orvane_1.2"),
        "none": utf16("OrvaneInit.log"),
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
    "fuzz_stored_index": {  # piece size and halves, read size, then the stored text
        "lines": b"\x87\x05" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\nD41D8CD98F00B204E9800998ECF8427E\r\n"),
        "run": b"\x83\x0f" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F" * 6 + b"\r\n" + b"A" * 40),
        "keybyte": b"\x0c\x03" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\n") + bytes([KEY])
        + scramble(b"D41D8CD98F00B204E9800998ECF8427E\r\n"),
    },
    "fuzz_service_hash_list": {  # the check's lookup against the text it was built from
        "lines": b"44D88612FEA8A8F36DE82E1278ABB02F\r\nD41D8CD98F00B204E9800998ECF8427E\r\n",
        "long": b"x" * 500 + b"44D88612FEA8A8F36DE82E1278ABB02F\n",
        "zero": b"44D88612FEA8A8F3\0" + b"6DE82E1278ABB02F\n",
    },
    "fuzz_reg_location": {
        "run": utf16("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run|x|C:\\a.exe -q"),
    },
    "fuzz_job_file": {
        "daily": utf16("[JOB]\nName=Night\nDesc=d\nType=1034\nDaily=10:30:00 PM\nWeekly=\n"
                       "Shutdown=0\nSendMail=0\nMail=0\nJobRun=0\nNextRun=0\nAction=0\nStatus=1224\n"),
        "weekly": utf16("[JOB]\nName=W\nDesc=\nType=1035\nDaily=\nWeekly=12:15:00 AM \nSunday=0\n"
                        "Monday=1\nStatus=1227\n"),
        "odd": utf16("Daily=Desc=:\n:99:Name=PM") + b"\0\0Status=1" + b"x",
        # A daily text whose second unit is the weekly mark.
        "markindaily": utf16("[JOB]\nName=\nDaily=\nWeekly=0W\nStatus=1227\n"),
    },
    "fuzz_session_environment": {  # a user process's environ, entries ended by NUL
        "gdm": b"DISPLAY=:0\0XAUTHORITY=/run/user/1000/gdm/Xauthority\0LD_PRELOAD=/x.so\0",
        "wayland": b"WAYLAND_DISPLAY=wayland-0\0XDG_RUNTIME_DIR=/run/user/1000\0LANG=C",
        "odd": b"=\0DISPLAY\0DISPLAY=\0DISPLAY=a\nb\0DBUS_SESSION_BUS_ADDRESS==x\0\0",
    },
    "fuzz_news_reply": {
        "line": b"New definitions are out.<br/>",
        "zero": b"short\0tail after the zero",
        "utf8": "Caf\u00e9 news \u2014 today!12345".encode("utf-8"),
        "long": b"n" * 511,
    },
    "fuzz_update_checks": {  # first byte: 0 checksum file, 1 database
        "sha256": b"\0" + b"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  hashdb.dbf\n",
        "database": b"\1" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F\r\n"),
        "keybyte": b"\1" + scramble(b"44D88612FEA8A8F36DE82E1278ABB02F") + bytes([KEY]),
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
