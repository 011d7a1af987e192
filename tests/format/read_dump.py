#!/usr/bin/env python3
"""A reader of database files written from docs/file-format.md alone, without the engine's code.

    read_dump.py FILE                      the table names, one per line
    read_dump.py FILE TABLE [--index NAME] the live rows as a JSON array, in stored order or in the
                                           key order of the index, values shown as `radezi dump`
                                           shows them

Plain and compressed files are read; an encrypted file is refused (exit 2), as this reader does not
carry the ciphers. Exit 1 for a table or index that is not there, 3 for a file it cannot read.
"""
import datetime
import json
import struct
import sys
import zlib

FILE_HEADER, PROCESS_HEADER, DIRECTORY = 0, 2317, 2789
TABLE_HEADER_SIZE = 4821
FIELD_DEF, FIELD_DEF_SIZE = 49, 43
INDEX_DEF, INDEX_DEF_SIZE = 4181, 78
RECORD_BLOCK, RECORD_ENTRY = 5124, 5
INDEX_BLOCK, INDEX_ENTRY = 8196, 8
BLOCK_ENTRIES = 1024
BLOBS = {15, 16, 17, 18, 19, 20, 21, 30, 31}
TEXT_BLOBS = {16, 18, 31}
SLOTS = {2: 2, 3: 4, 4: 2, 5: 2, 6: 8, 7: 8, 9: 4, 10: 4, 11: 8, 14: 4, 25: 8}
MS_PER_DAY = 86400000


class Unreadable(Exception):
    pass


def i32(b, o):
    return struct.unpack_from("<i", b, o)[0]


def text(raw):
    """A fixed-size text field: the bytes up to the first zero byte."""
    end = raw.find(b"\0")
    return raw if end < 0 else raw[:end]


class Database:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:7] != b"RadeZI\0":
            raise Unreadable("not a database file")
        version = text(d[7:12])
        if version == b"1.00" or version > b"2.0":
            raise Unreadable("version %r is not read" % version)
        self.compressed = d[PROCESS_HEADER] != 0
        if d[PROCESS_HEADER + 35] != 0:
            raise Unreadable("encrypted")
        if self.compressed and text(d[PROCESS_HEADER + 2:PROCESS_HEADER + 35]).upper() != b"ZLIB":
            raise Unreadable("unknown compression")
        count = i32(d, DIRECTORY)
        self.headers = [i32(d, DIRECTORY + 8 + 4 * n) for n in range(count)]

    def at(self, offset, size):
        if offset < 0 or offset + size > len(self.data):
            raise Unreadable("offset %d outside the file" % offset)
        return self.data[offset:offset + size]

    def names(self):
        return [text(self.at(h, 33)) for h in self.headers]

    def table(self, name):
        for h, n in zip(self.headers, self.names()):
            if n.lower() == name.lower():
                return Table(self, self.at(h, TABLE_HEADER_SIZE))
        return None


class Table:
    def __init__(self, db, header):
        self.db = db
        self.record_tab_offset = i32(header, 33)
        self.record_tab_count = i32(header, 37)
        self.fields = []
        slot = 0
        for k in range(i32(header, 45)):
            o = FIELD_DEF + k * FIELD_DEF_SIZE
            kind, size = header[o + 33], i32(header, o + 34)
            if kind in BLOBS:
                width = 20
            elif kind in (1, 23):
                width = size + 1
            elif kind in SLOTS:
                width = SLOTS[kind]
            else:
                raise Unreadable("General error")
            self.fields.append((text(header[o:o + 33]), kind, slot, width, header[o + 38] == 0))
            slot += width
        self.record_size = slot
        self.indexes = {}
        for k in range(i32(header, 4177)):
            o = INDEX_DEF + k * INDEX_DEF_SIZE
            self.indexes[text(header[o:o + 33]).lower()] = (i32(header, o + 66), i32(header, o + 70))
        self.entries = self.chain(self.record_tab_offset, RECORD_BLOCK, RECORD_ENTRY,
                                  lambda b, o: (i32(b, o), b[o + 4] != 0))

    def chain(self, first, block_size, entry_size, entry):
        """The first record_tab_count entries of a tab: blocks linked by their first int32."""
        items, block = [], first
        while len(items) < self.record_tab_count:
            raw = self.db.at(block, block_size)
            for n in range(min(BLOCK_ENTRIES, self.record_tab_count - len(items))):
                items.append(entry(raw, 4 + n * entry_size))
            block = i32(raw, 0)
        return items

    def order(self, index=None):
        """Record numbers of the live records: stored order, or the chain of an index."""
        if index is None:
            return [n for n, (_, deleted) in enumerate(self.entries) if not deleted]
        tab_offset, head = self.indexes[index]
        if tab_offset == 0:
            return []
        following = self.chain(tab_offset, INDEX_BLOCK, INDEX_ENTRY, lambda b, o: i32(b, o + 4))
        result, n, steps = [], head, 0
        while n != -1 and steps < self.record_tab_count:
            if not self.entries[n][1]:
                result.append(n)
            n, steps = following[n], steps + 1
        return result

    def row(self, number):
        record = self.db.at(self.entries[number][0], self.record_size)
        values = {}
        for name, kind, slot, width, processed in self.fields:
            raw = record[slot:slot + width]
            key = name.decode("gbk")
            if kind in BLOBS:
                offset, stored = struct.unpack_from("<ii", raw)
                data = self.db.at(offset, stored)
                if self.db.compressed and processed:
                    data = unzlib(data)
                values[key] = show_blob(kind, data)
            else:
                values[key] = show(kind, raw)
        return values


def unzlib(data):
    if not data:
        return b""
    n = i32(data, 0)
    if n < 0:
        return data[4:]
    out = zlib.decompress(data[4:])
    if len(out) != n:
        raise Unreadable("compressed data of the wrong length")
    return out


def date_text(day):
    return datetime.date.fromordinal(day).isoformat()


def time_text(ms):
    return "%02d:%02d:%02d.%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


def show(kind, raw):
    if kind in (1, 23):
        t = text(raw)
        try:
            return t.decode("gbk")
        except UnicodeDecodeError:
            return {"hex": t.hex()}
    if kind == 2:
        return struct.unpack("<h", raw)[0]
    if kind == 4:
        return struct.unpack("<H", raw)[0]
    if kind == 5:
        return struct.unpack("<h", raw)[0] != 0
    if kind in (3, 14):
        return struct.unpack("<i", raw)[0]
    if kind == 25:
        return struct.unpack("<q", raw)[0]
    if kind in (6, 7):
        return struct.unpack("<d", raw)[0]
    if kind == 9:
        day = struct.unpack("<i", raw)[0]
        return date_text(day) if day > 0 else None
    if kind == 10:
        return time_text(struct.unpack("<i", raw)[0])
    if kind == 11:
        v = struct.unpack("<d", raw)[0]
        if v == 0:
            return None
        if v != v or v < MS_PER_DAY or v > 1e15:
            return v
        days = v // MS_PER_DAY
        ms = round(v - days * MS_PER_DAY)
        if ms >= MS_PER_DAY:
            ms, days = ms - MS_PER_DAY, days + 1
        return date_text(int(days)) + " " + time_text(int(ms))
    raise Unreadable("General error")


def show_blob(kind, data):
    if kind in TEXT_BLOBS:
        try:
            return data.decode("gbk")
        except UnicodeDecodeError:
            pass
    return {"hex": data.hex()}


def main(argv):
    args = argv[1:]
    index = None
    if "--index" in args:
        k = args.index("--index")
        index = args[k + 1].encode("gbk").lower()
        del args[k:k + 2]
    try:
        db = Database(args[0])
        if len(args) == 1:
            for name in db.names():
                print(name.decode("gbk"))
            return 0
        table = db.table(args[1].encode("gbk"))
        if table is None:
            print("no table %s" % args[1], file=sys.stderr)
            return 1
        if index is not None and index not in table.indexes:
            print("no index %s" % index.decode("gbk"), file=sys.stderr)
            return 1
        rows = [table.row(n) for n in table.order(index)]
    except Unreadable as e:
        print(str(e), file=sys.stderr)
        return 2 if str(e) == "encrypted" else 3
    print(json.dumps(rows, ensure_ascii=False, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
