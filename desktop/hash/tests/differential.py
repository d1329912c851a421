#!/usr/bin/python3
"""Compares om_hashtool with independent implementations: Python's hashlib,
zlib, binascii and base64, openssl dgst (MD4 through the legacy provider) and
rhash (Tiger; Snefru-256 where the library has it). An oracle that is not
installed is reported and skipped."""
import base64
import binascii
import hashlib
import random
import shutil
import subprocess
import sys
import zlib

TOOL = sys.argv[1]
rng = random.Random(20240601)
failures = []
checked = {}


def tool(*args):
    out = subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True)
    if out.returncode != 0:
        raise RuntimeError(f"{args[:2]}: {out.stdout}{out.stderr}")
    return out.stdout.strip()


def lengths(block):
    base = set(range(0, 301))
    for k in range(1, 6):
        base.update(range(max(0, k * block - 3), k * block + 4))
    return sorted(base)


def random_splits(n):
    cuts = sorted(rng.randrange(0, n + 1) for _ in range(rng.randrange(0, 4)))
    return cuts


def check_hash(cls, oracle, block, sample=None):
    ls = lengths(block)
    if sample:
        ls = sorted(rng.sample(ls, min(sample, len(ls))) + [0, 1, block - 1, block, block + 1])
    for n in ls:
        data = bytes(rng.randrange(256) for _ in range(n))
        expected = oracle(data)
        got = tool("hash", cls, data.hex() or "x", *random_splits(n))
        checked[cls] = checked.get(cls, 0) + 1
        if got != expected:
            failures.append(f"{cls} length {n}: {got} != {expected}")


def openssl_md4(data):
    out = subprocess.run(["openssl", "dgst", "-md4", "-provider", "legacy", "-provider", "default", "-r"],
                         input=data, capture_output=True)
    if out.returncode != 0:
        raise RuntimeError(out.stderr.decode())
    return out.stdout.split()[0].decode()


def rhash(option):
    def run(data):
        out = subprocess.run(["rhash", option, "--simple", "-"], input=data, capture_output=True)
        return out.stdout.split()[0].decode().lower()
    return run


def hashlib_oracle(name):
    try:
        hashlib.new(name)
    except ValueError:
        return None
    return lambda d: hashlib.new(name, d).hexdigest()


def main():
    # An empty hex argument is passed as "x", which the hexadecimal decoder reads as no bytes.
    check_hash("THash_MD5", hashlib_oracle("md5"), 64)
    check_hash("THash_SHA1", hashlib_oracle("sha1"), 64)
    ripemd = hashlib_oracle("ripemd160")
    if ripemd:
        check_hash("THash_RipeMD160", ripemd, 64)
    else:
        print("skipped: hashlib has no ripemd160")
    check_hash("THash_CRC32", lambda d: zlib.crc32(d).to_bytes(4, "little").hex(), 1)
    check_hash("Thash_CRC16_Standard", crc16_arc, 1, sample=40)
    check_hash("THash_CRC16_CCITT", lambda d: crc_ccitt_augmentless(d), 1, sample=40)
    # The class shifts bytes in behind the register; followed by two zero bytes
    # that is the common CCITT CRC whose start value 0x1D0F corresponds to 0xFFFF.
    for n in range(0, 80):
        data = bytes(rng.randrange(256) for _ in range(n))
        expected = binascii.crc_hqx(data, 0x1D0F).to_bytes(2, "little").hex()
        got = tool("hash", "THash_CRC16_CCITT", (data + b"\0\0").hex())
        checked["THash_CRC16_CCITT (crc_hqx)"] = checked.get("THash_CRC16_CCITT (crc_hqx)", 0) + 1
        if got != expected:
            failures.append(f"CRC16_CCITT crc_hqx length {n}: {got} != {expected}")
    if shutil.which("openssl"):
        check_hash("THash_MD4", openssl_md4, 64, sample=60)
    else:
        print("skipped: openssl not installed")
    if shutil.which("rhash"):
        check_hash("THash_Tiger", rhash("--tiger"), 64, sample=60)
        if "THash_Snefru" in tool_classes():
            check_hash("THash_Snefru", rhash("--snefru256"), 32, sample=60)
    else:
        print("skipped: rhash not installed")

    # String formats.
    for n in list(range(0, 100)) + [134, 135, 136, 137, 300]:
        data = bytes(rng.randrange(256) for _ in range(n))
        hx = data.hex() or "x"
        expect = {
            4196: base64.b64encode(data).decode(),
            16: data.hex().upper(),
            1016: data.hex(),
            21845: "".join(binascii.b2a_uu(data[i:i + 45], backtick=True).decode().rstrip("\n")
                           for i in range(0, n, 45)),
        }
        for fmt, text in expect.items():
            got = tool("encode", fmt, hx) if n else ""
            checked[f"format {fmt}"] = checked.get(f"format {fmt}", 0) + 1
            if got != text:
                failures.append(f"encode {fmt} length {n}: {got!r} != {text!r}")
            if n:
                back = tool("decode", fmt, text.encode().hex())
                if back != data.hex():
                    failures.append(f"decode {fmt} length {n}: {back} != {data.hex()}")
    # Python's base64 decoder agrees on text with line breaks and without padding.
    for n in range(1, 60):
        data = bytes(rng.randrange(256) for _ in range(n))
        text = base64.encodebytes(data).decode().rstrip("=\n")
        if tool("decode", 4196, text.encode().hex()) != data.hex():
            failures.append(f"decode unpadded base64 length {n}")

    for name, count in sorted(checked.items()):
        print(f"{name}: {count} inputs")
    if failures:
        print("\n".join(failures[:50]))
        print(f"{len(failures)} differences")
        return 1
    print("all equal")
    return 0


def crc16_arc(data):
    # binascii has no reflected 0xA001 CRC; crc_hqx checks the CCITT table below.
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc.to_bytes(2, "little").hex()


def crc_ccitt_augmentless(data):
    # Bit-by-bit register: the bytes enter behind the register, no trailing zeros.
    reg = 0xFFFF
    for b in data:
        for bit in range(7, -1, -1):
            top = reg & 0x8000
            reg = ((reg << 1) | ((b >> bit) & 1)) & 0xFFFF
            if top:
                reg ^= 0x1021
    return reg.to_bytes(2, "little").hex()


_classes = None


def tool_classes():
    global _classes
    if _classes is None:
        _classes = set()
        for cls in ["THash_Snefru"]:
            out = subprocess.run([TOOL, "hash", cls, "x"], capture_output=True)
            if out.returncode == 0:
                _classes.add(cls)
    return _classes


if __name__ == "__main__":
    sys.exit(main())
