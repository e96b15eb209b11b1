#!/usr/bin/python3
"""Times Python's intelhex (Debian's python3-intelhex) on the file that
bench_hexfile loads: 4096 rows, 64 KiB in 16-byte records. Each load reads
the file, parses it and lays the data out in the viewer's rows (address as
the block number and "0", then 16 cells of two upper-case hex digits, FF
where the file has no data), as the C++ loader does.

    bench/hexfile_python.py [--repeat N] [--write FILE]

--write saves the generated file (to compare it with the C++ one) and exits.
"""
import argparse
import io
import os
import statistics
import sys
import tempfile
import time

from intelhex import IntelHex
from intelhex.__version__ import version_str as intelhex_version


def byte_at(address):
    # The same data as bench_hexfile.cpp's ByteAt.
    return (address * 7 + (address >> 8)) & 0xFF


def full_size_hex_text():
    lines = []
    for address in range(0, 0x10000, 16):
        data = [byte_at(address + i) for i in range(16)]
        total = 16 + (address >> 8) + (address & 0xFF) + sum(data)
        lines.append(":10%04X00%s%02X\r\n" % (address, "".join("%02X" % b for b in data), (0x100 - (total & 0xFF)) & 0xFF))
    lines.append(":00000001FF\r\n")
    return "".join(lines)


CELLS = ["%02X" % b for b in range(256)]


def load_rows(path):
    with open(path, "r", newline="") as f:
        text = f.read()
    hexfile = IntelHex()
    hexfile.loadhex(io.StringIO(text))
    # First 64 KiB only, FF where the file has no data.
    top = min(hexfile.maxaddr(), 0xFFFF)
    data = hexfile.tobinarray(start=0, end=top)
    rows = []
    for block in range(top // 16 + 1):
        row = ["%04X0" % block]
        row.extend(CELLS[b] for b in data[block * 16:block * 16 + 16])
        row.extend(["FF"] * (17 - len(row)))
        rows.append(row)
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=30)
    parser.add_argument("--write")
    args = parser.parse_args()
    text = full_size_hex_text()
    if args.write:
        with open(args.write, "w", newline="") as f:
            f.write(text)
        return 0
    fd, path = tempfile.mkstemp(suffix=".hex")
    try:
        with os.fdopen(fd, "w", newline="") as f:
            f.write(text)
        rows = load_rows(path)
        assert len(rows) == 4096 and rows[4095][0] == "0FFF0", "the file did not load"
        assert rows[1][1] == "%02X" % byte_at(16)
        # CPU time, as Google Benchmark's "CPU" column: the machine may be
        # shared, and wall time would count the others' work too.
        cpu = []
        wall = []
        for _ in range(args.repeat):
            start_cpu = time.process_time()
            start_wall = time.perf_counter()
            load_rows(path)
            cpu.append(time.process_time() - start_cpu)
            wall.append(time.perf_counter() - start_wall)
    finally:
        os.remove(path)
    print("intelhex %s, Python %s, read + parse + 4096 rows, %d runs: CPU median %.2f ms (min %.2f), "
          "wall median %.2f ms" % (intelhex_version, sys.version.split()[0], args.repeat,
                                   statistics.median(cpu) * 1e3, min(cpu) * 1e3, statistics.median(wall) * 1e3))
    return 0


if __name__ == "__main__":
    sys.exit(main())
