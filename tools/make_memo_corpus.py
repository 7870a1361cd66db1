#!/usr/bin/env python3
"""Seeds for the memo fuzzer: each fixture memo file behind the kind byte
and eight little-endian block numbers the fuzz target expects."""
import os
import struct
import sys

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'data', 'fixtures')
SEEDS = [('db3_memo_pydbf.dbt', 0), ('db4_memo_xbase.dbt', 1), ('fox_fpt_xbase.fpt', 3),
         ('db3_empty_pydbf.dbt', 0)]

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
blocks = b''.join(struct.pack('<H', b) for b in [1, 2, 3, 4, 5, 6, 8, 10])
for name, kind in SEEDS:
    with open(os.path.join(FIXTURES, name), 'rb') as f:
        data = f.read()
    with open(os.path.join(out, name), 'wb') as f:
        f.write(bytes([kind]) + blocks + data)
