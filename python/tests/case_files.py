"""Reads the repository's case files (tests/cases/*.txt) as tests/case_file.h describes them, byte for byte."""
from __future__ import annotations

import dataclasses
import re
from pathlib import Path
from typing import List, Optional

REPOSITORY = Path(__file__).resolve().parents[2]
CASES_DIR = REPOSITORY / "tests" / "cases"

_MARKER = re.compile(rb"--- ([a-z]+)( escaped)?")
_SECTIONS = (b"template", b"data", b"expect", b"fails")
_SIMPLE_ESCAPES = {b"n": b"\n", b"r": b"\r", b"t": b"\t", b"v": b"\v", b"f": b"\f", b"\\": b"\\"}


@dataclasses.dataclass
class Case:
    file: str
    line: int
    title: str
    template: bytes = b""
    data: Optional[bytes] = None
    expect: Optional[bytes] = None
    fails: bool = False

    def __str__(self) -> str:
        return "%s:%d %s" % (self.file, self.line, self.title)


def decode_escapes(text: bytes) -> bytes:
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i:i + 1]
        if c != b"\\":
            out += c
            i += 1
            continue
        code = text[i + 1:i + 2]
        if code == b"x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        elif code in _SIMPLE_ESCAPES:
            out += _SIMPLE_ESCAPES[code]
            i += 2
        else:
            raise ValueError("bad escape %r" % text[i:i + 2])
    return bytes(out)


def parse(file_name: str, text: bytes) -> List[Case]:
    cases: List[Case] = []
    lines = text.split(b"\n")
    if lines and lines[-1] == b"":  # a final newline does not start an empty last line
        lines.pop()
    current: Optional[Case] = None
    section: Optional[bytes] = None
    escaped = False
    body: List[bytes] = []

    def finish_section() -> None:
        if current is None or section is None:
            return
        content = b"\n".join(body)
        if escaped:
            content = decode_escapes(content)
        if section == b"template":
            current.template = content
        elif section == b"data":
            current.data = content
        elif section == b"expect":
            current.expect = content
        else:
            current.fails = True

    for number, line in enumerate(lines, 1):
        if line == b"===" or line.startswith(b"=== "):
            finish_section()
            if current is not None:
                cases.append(current)
            current = Case(file_name, number, line[4:].decode("utf-8", "replace"))
            section, body = None, []
            continue
        if current is None:
            continue  # commentary before the first case
        marker = _MARKER.fullmatch(line)
        if marker and marker.group(1) in _SECTIONS:
            finish_section()
            section, escaped, body = marker.group(1), marker.group(2) is not None, []
            continue
        if section is None:
            raise ValueError("%s:%d: text outside any section" % (file_name, number))
        body.append(line)
    finish_section()
    if current is not None:
        cases.append(current)
    for case in cases:
        if case.fails == (case.expect is not None):
            raise ValueError("%s: needs exactly one of '--- expect' and '--- fails'" % case)
    return cases


def case_files() -> List[Path]:
    return sorted(CASES_DIR.glob("*.txt"))


def load(path: Path) -> List[Case]:
    return parse(path.name, path.read_bytes())
