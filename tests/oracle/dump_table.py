#!/usr/bin/python3
"""Prints a dBASE table as independent readers see it, as one JSON object.

Readers: dbfread (python3-dbfread), Perl XBase (libdbd-xbase-perl, through
xbase_read.pl beside this script) and python3-dbf. Each reader's answer is
brought to one form: C as text without trailing blanks, N/F as a decimal
string with exactly `dec` decimals or null when blank, L as true/false/null,
D as "YYYY-MM-DD" or null, M as the whole text ("" when none). The object
holds the table's header numbers, the readers asked ("peer"), whether they
agree ("agree"), the first reader's fields and records, and under "forms"
the form of every reader that disagrees with the first.

A reader that rejects the table (as dbfread and python3-dbf reject a date
that does not exist) is left out with a message; the others still count.
Exit status: 0 when the readers agree (and match --expect), 1 when they
disagree, none could read the table or the expected file differs, 2 when a
reader is not installed or none knows the table's version. Messages go to
stderr, always before the JSON.
"""
import argparse
import datetime
import json
import os
import struct
import subprocess
import sys
import warnings
from decimal import Decimal, InvalidOperation

HERE = os.path.dirname(os.path.abspath(__file__))
READERS = ("dbfread", "xbase", "pydbf")
PACKAGES = {"dbfread": "python3-dbfread", "xbase": "libdbd-xbase-perl", "pydbf": "python3-dbf"}
# Version bytes each reader understands; none knows the level-7 layout.
KNOWS = {
    "dbfread": {0x03, 0x83, 0x8B, 0xF5, 0x30},
    "xbase": {0x03, 0x83, 0x8B, 0xF5, 0x30},
    "pydbf": {0x03, 0x83, 0xF5, 0x30},
}
# Language byte (offset 29) to code page; anything else is read as 437.
CODEPAGES = {0x01: "cp437", 0x02: "cp850", 0x03: "cp1252", 0x57: "cp1252", 0x64: "cp852", 0xC8: "cp1250"}


class ReaderMissing(Exception):
    pass


class ReaderFailed(Exception):
    pass


def say(message):
    """A message on stderr; without braces, so the JSON's first brace is
    where a caller finds it."""
    sys.stderr.write(message.replace("{", "(").replace("}", ")") + "\n")


def read_header(path):
    with open(path, "rb") as f:
        head = f.read(32)
    if len(head) < 32:
        raise ReaderFailed("shorter than a table header")
    count, header_len, record_len = struct.unpack_from("<IHH", head, 4)
    return {"version": head[0], "numrecords": count, "headerlen": header_len, "recordlen": record_len,
            "language": head[29]}


def deletion_flags(path, head):
    """Flag bytes in file order, up to the end-of-file mark, as readers walk."""
    flags = []
    with open(path, "rb") as f:
        f.seek(head["headerlen"])
        while True:
            record = f.read(head["recordlen"])
            if len(record) < head["recordlen"] or record[:1] == b"\x1a":
                return flags
            flags.append(record[:1])


def memo_path(path):
    base, _ = os.path.splitext(path)
    folder = os.path.dirname(path) or "."
    stem = os.path.basename(base).lower()
    for name in os.listdir(folder):
        if os.path.splitext(name)[0].lower() == stem and os.path.splitext(name)[1].lower() in (".dbt", ".fpt"):
            return os.path.join(folder, name)
    return None


# --- one form for every reader -------------------------------------------

def as_text(value):
    return "" if value is None else str(value).rstrip(" ")


def as_number(value, dec):
    if value is None or str(value).strip() == "":
        return None
    try:
        number = Decimal(str(value).strip())
    except InvalidOperation:
        raise ReaderFailed("not a number: %r" % (value,))
    number = number.quantize(Decimal(1).scaleb(-dec))
    return str(abs(number) if number == 0 else number)


def as_logical(value):
    if value is None or value == "":
        return None
    if isinstance(value, str):
        return value in ("1", "T", "t", "Y", "y")
    return bool(value)


def as_date(value):
    if value is None:
        return None
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.strftime("%Y-%m-%d")
    text = str(value).strip()
    if text in ("", "00000000"):
        return None
    return "%s-%s-%s" % (text[0:4], text[4:6], text[6:8])


CONVERT = {"C": lambda v, d: as_text(v), "N": as_number, "F": as_number, "L": lambda v, d: as_logical(v),
           "D": lambda v, d: as_date(v), "M": lambda v, d: "" if v is None else str(v)}


def make_form(fields, rows):
    """fields: (name, type, len, dec); rows: (deleted, values) in file order."""
    form_fields = [{"name": n.upper(), "type": t, "len": int(ln), "dec": int(d)} for n, t, ln, d in fields]
    records = []
    for deleted, values in rows:
        out = []
        for f, v in zip(form_fields, values):
            convert = CONVERT.get(f["type"], CONVERT["M"] if f["type"] in "BGP" else CONVERT["C"])
            out.append(convert(v, f["dec"]))
        records.append({"deleted": bool(deleted), "values": out})
    return {"fields": form_fields, "records": records}


# --- the readers ----------------------------------------------------------

def dbfread_memo_lengths(path, head):
    """dbfread takes every dBASE IV memo block as 512 bytes and reads the
    8-byte block header's length as the text's; answers a function giving
    the real text length of a block, or None when dbfread cannot read it."""
    memo = memo_path(path)
    if memo is None:
        return lambda block: None
    with open(memo, "rb") as f:
        data = f.read()
    if len(data) >= 22 and struct.unpack_from("<H", data, 20)[0] not in (0, 512):
        raise ReaderFailed("dbfread reads only 512-byte dBASE IV memo blocks")

    def length(block):
        at = block * 512
        if data[at:at + 4] != b"\xff\xff\x08\x00":
            return None
        return struct.unpack_from("<I", data, at + 4)[0] - 8
    return length


def read_dbfread(path, head, codepage):
    try:
        import dbfread
    except ImportError as e:
        raise ReaderMissing(str(e))
    parser = dbfread.FieldParser
    if head["version"] == 0x8B:
        length = dbfread_memo_lengths(path, head)

        class Dbase4Memos(dbfread.FieldParser):
            def parseM(self, field, data):
                text = super().parseM(field, data)
                n = length(self._parse_memo_index(data)) if text is not None else None
                return text if n is None else text[:n]
        parser = Dbase4Memos
    table = dbfread.DBF(path, encoding=codepage, load=True, parserclass=parser)
    live, deleted = iter(table.records), iter(table.deleted)
    rows = []
    for flag in deletion_flags(path, head):
        if flag not in (b" ", b"*"):
            raise ReaderFailed("record %d has the flag byte %r, which dbfread skips" % (len(rows) + 1, flag))
        rows.append((flag == b"*", list(next(deleted if flag == b"*" else live).values())))
    fields = [(f.name, f.type, f.length, f.decimal_count) for f in table.fields]
    return make_form(fields, rows)


def read_xbase(path, head, codepage):
    script = os.path.join(HERE, "xbase_read.pl")
    try:
        run = subprocess.run(["/usr/bin/perl", script, path], capture_output=True)
    except FileNotFoundError as e:
        raise ReaderMissing(str(e))
    err = run.stderr.decode("utf-8", "replace")
    if "Can't locate XBase.pm" in err or "Can't locate JSON/PP.pm" in err:
        raise ReaderMissing(err.strip().splitlines()[0])
    if run.returncode != 0:
        raise ReaderFailed(err.strip())
    raw = json.loads(run.stdout)
    fields = [(f["name"], f["type"], f["len"], f["dec"]) for f in raw["fields"]]
    rows = []
    for r in raw["records"]:
        values = [None if v is None else bytes.fromhex(v).decode(codepage) for v in r["values"]]
        rows.append((r["deleted"], values))
    return make_form(fields, rows)


def read_pydbf(path, head, codepage):
    warnings.simplefilter("ignore")
    try:
        import dbf
    except ImportError as e:
        raise ReaderMissing(str(e))
    table = dbf.Table(path, codepage=codepage)
    table.open(dbf.READ_ONLY)
    try:
        fields = []
        for name in table.field_names:
            info = table.field_info(name)
            fields.append((name, chr(info[0]), info[1], info[2]))
        rows = [(dbf.is_deleted(r), list(r)) for r in table]
    finally:
        table.close()
    return make_form(fields, rows)


READ = {"dbfread": read_dbfread, "xbase": read_xbase, "pydbf": read_pydbf}


# --- comparing and printing -----------------------------------------------

def differences(a, b, limit=10):
    """Where form b differs from form a, as short texts without values."""
    found = []
    if a["fields"] != b["fields"]:
        found.append("the field lists")
    if len(a["records"]) != len(b["records"]):
        found.append("the record count (%d against %d)" % (len(a["records"]), len(b["records"])))
    names = [f["name"] for f in a["fields"]]
    for n, (ra, rb) in enumerate(zip(a["records"], b["records"]), 1):
        if ra["deleted"] != rb["deleted"]:
            found.append("record %d, deletion flag" % n)
        for name, va, vb in zip(names, ra["values"], rb["values"]):
            if va != vb:
                found.append("record %d, field %s" % (n, name))
    return found[:limit] + (["..."] if len(found) > limit else [])


def render(doc):
    """JSON with one field or record a line, as the fixture files are."""
    parts = []
    for key, value in doc.items():
        if key in ("fields", "records"):
            rows = ",\n".join("  " + json.dumps(x, ensure_ascii=False) for x in value)
            parts.append(' "%s": [\n%s\n ]' % (key, rows) if value else ' "%s": []' % key)
        else:
            parts.append(" %s: %s" % (json.dumps(key), json.dumps(value, ensure_ascii=False)))
    return "{\n" + ",\n".join(parts) + "\n}\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("table")
    ap.add_argument("--peer", choices=READERS + ("all",), default="all")
    ap.add_argument("--codepage", help="code page of the text (default: from the language byte, else cp437)")
    ap.add_argument("--expect", help="JSON file whose fields and records every reader must match")
    ap.add_argument("--quiet", action="store_true", help="no JSON on stdout")
    args = ap.parse_args()

    def fail(status, message):
        say(message)
        sys.exit(status)

    try:
        head = read_header(args.table)
    except (OSError, ReaderFailed) as e:
        fail(2, "cannot read %s: %s" % (args.table, e))
    version = head["version"]
    codepage = args.codepage or CODEPAGES.get(head["language"], "cp437")
    readers = [r for r in READERS if version in KNOWS[r]] if args.peer == "all" else [args.peer]
    if not readers or any(version not in KNOWS[r] for r in readers):
        fail(2, "no independent reader asked knows version 0x%02x" % version)

    forms = {}
    for reader in readers:
        try:
            forms[reader] = READ[reader](args.table, head, codepage)
        except ReaderMissing as e:
            fail(2, "reader %s is not installed (Debian package %s): %s" % (reader, PACKAGES[reader], e))
        except Exception as e:  # a reader's own limits: the others decide
            say("%s cannot read %s: %s: %s" % (reader, args.table, type(e).__name__, e))
    readers = [r for r in readers if r in forms]
    if not readers:
        fail(1, "no reader could read %s" % args.table)

    first = readers[0]
    agree = True
    for reader in readers[1:]:
        found = differences(forms[first], forms[reader])
        agree = agree and not found
        for where in found:
            say("%s differs from %s: %s" % (reader, first, where))
    matches = True
    if args.expect:
        with open(args.expect, encoding="utf-8") as f:
            want = json.load(f)
        want = {"fields": want["fields"], "records": want["records"]}
        for reader in readers:
            found = differences(want, forms[reader])
            matches = matches and not found
            for where in found:
                say("%s differs from %s: %s" % (reader, os.path.basename(args.expect), where))
    if agree and len(readers) > 1:
        say("%s agree" % ", ".join(readers))
    sys.stderr.flush()

    if not args.quiet:
        doc = {"peer": "+".join(readers), "file": os.path.basename(args.table), "version": version,
               "version_hex": "0x%02x" % version, "numrecords": head["numrecords"], "headerlen": head["headerlen"],
               "recordlen": head["recordlen"], "agree": agree}
        doc.update(forms[first])
        if not agree:
            doc["forms"] = {r: forms[r] for r in readers[1:] if forms[r] != forms[first]}
        out = render(doc)
        sys.stdout.buffer.write(out.encode("utf-8"))
        sys.stdout.flush()
    sys.exit(0 if agree and matches else 1)


if __name__ == "__main__":
    main()
