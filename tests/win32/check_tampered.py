#!/usr/bin/python3
# Shows that the resource check can fail: each copy of the program file has one field changed in
# place, and the check must reject every copy.
#   check_tampered.py check_resources.py Quietglass.scr
import os
import struct
import subprocess
import sys
import tempfile


def utf16(text):
    return text.encode("utf-16-le")


def replace_once(data, old, new):
    if data.count(old) != 1:
        raise ValueError(f"{old!r} is in the file {data.count(old)} times, not once")
    return data.replace(old, new)


def set_file_flags(data):
    at = data.index(struct.pack("<I", 0xFEEF04BD))
    return data[: at + 28] + struct.pack("<I", 1) + data[at + 32 :]


def set_code_page_1252(data):
    # The key, its terminator and padding to four bytes, then the language and code page.
    at = data.index(utf16("Translation\0")) + 24
    at += -at % 4
    if data[at : at + 4] != bytes([9, 4, 0xB0, 4]):
        raise ValueError("the translation is not where it should be")
    return data[:at] + bytes([9, 4, 0xE4, 4]) + data[at + 4 :]


TAMPERINGS = [
    ("a company name off by one letter",
     lambda d: replace_once(d, utf16("Pellwin Systems"), utf16("Pellwin Systemz"))),
    ("a renamed string", lambda d: replace_once(d, utf16("InternalName"), utf16("InternalNamx"))),
    ("FILEFLAGS 1", set_file_flags),
    ("a Windows-1252 translation", set_code_page_1252),
]


def failed_lines(checker, path):
    result = subprocess.run([sys.executable, checker, path], capture_output=True, text=True)
    return result.returncode, {line for line in result.stdout.splitlines() if "FAIL" in line}


def main(checker, program):
    original = open(program, "rb").read()
    _, already_failing = failed_lines(checker, program)
    failures = 0
    with tempfile.TemporaryDirectory(prefix="qg-tampered-") as folder:
        for what, tamper in TAMPERINGS:
            path = os.path.join(folder, "Quietglass.scr")
            with open(path, "wb") as out:
                out.write(tamper(original))
            # Rejected for the change itself, not for something the original fails too.
            status, failing = failed_lines(checker, path)
            rejected = status != 0 and bool(failing - already_failing)
            failures += not rejected
            print(f"{'ok  ' if rejected else 'FAIL'} the resource check rejects {what}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
