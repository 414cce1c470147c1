#!/usr/bin/env python3
"""Writes three versions of a synthetic game client for the demo.

    synthetic_game.py OUT [--scale S]

OUT/v1, OUT/v2 and OUT/v3 are whole client trees (about 220 MB each at
scale 1): executables and libraries, packed data, textures, localized text,
a sound folder, an empty file. v2 patches the executable in place, grows a
library and two packs, replaces some textures, edits the text, renames
"sound/" to "audio/", drops old textures and adds a pack; v3 grows the
executable, shrinks a pack, adds a "maps/" folder and empties a file again.
The bytes depend only on the file names and the scale, so every run writes
the same trees. Files a version leaves unchanged are hard links to the
previous version's.
"""
import os
import random
import sys
import zlib

MIB = 1 << 20
WORDS = ("sword shield ember vale halvrecht quest guild rune frost tide warden "
         "arrow ward lantern harbor ridge cipher gale thorn relic banner").split()


def rng(name, salt=""):
    return random.Random(zlib.crc32((name + "|" + salt).encode()))


def code_like(name, size):
    """Executable-like bytes: 4 KiB pages drawn from a pool, so repeats exist."""
    r = rng(name)
    pool = [r.randbytes(4096) for _ in range(256)]
    out = bytearray()
    while len(out) < size:
        out += pool[r.randrange(256)]
    return out[:size]


def text(name, size, salt=""):
    r = rng(name, salt)
    lines = []
    total = 0
    n = 0
    while total < size:
        line = "STR_%06d=%s\r\n" % (n, " ".join(r.choices(WORDS, k=r.randrange(4, 14))))
        lines.append(line)
        total += len(line)
        n += 1
    return "".join(lines).encode()[:size]


def edit(data, name, count, salt):
    """Same-size changes at scattered places."""
    r = rng(name, salt)
    data = bytearray(data)
    for _ in range(count):
        at = r.randrange(len(data) - 64)
        data[at:at + 64] = r.randbytes(64)
    return data


def insert(data, at, blob):
    return data[:at] + blob + data[at:]


def version1(scale):
    files = {}
    files["bin/halvrecht.exe"] = code_like("exe", int(12 * MIB * scale))
    files["bin/engine.dll"] = code_like("engine", int(8 * MIB * scale))
    files["bin/render.dll"] = code_like("render", int(6 * MIB * scale))
    for i in range(6):
        name = "data/packs/pack%02d.pak" % i
        files[name] = rng(name).randbytes(int(24 * MIB * scale))
    for i in range(30):
        name = "textures/tex%03d.dds" % i
        files[name] = rng(name).randbytes(int(MIB * scale))
    for i in range(2):
        name = "textures/old_%d.dds" % i
        files[name] = rng(name).randbytes(int(MIB * scale))
    for i in range(10):
        name = "sound/track%02d.ogg" % i
        files[name] = rng(name).randbytes(int(MIB * scale))
    for lang in ("en", "de", "fr", "ko", "pl"):
        name = "text/strings_%s.txt" % lang
        files[name] = text(name, int(MIB * scale))
    files["data/empty.cfg"] = b""
    files["readme.txt"] = b"Halvrecht synthetic client\r\n"
    return files


def version2(v1):
    files = dict(v1)
    files["bin/halvrecht.exe"] = edit(v1["bin/halvrecht.exe"], "exe", 40, "v2")
    files["bin/engine.dll"] = insert(v1["bin/engine.dll"], len(v1["bin/engine.dll"]) // 3,
                                     code_like("engine-v2", 300000))
    for name in ("data/packs/pack02.pak", "data/packs/pack04.pak"):
        data = edit(v1[name], name, 200, "v2")
        files[name] = insert(data, len(data) // 2, rng(name, "v2-insert").randbytes(MIB))
    for i in (3, 7, 11):
        name = "textures/tex%03d.dds" % i
        files[name] = rng(name, "v2").randbytes(len(v1[name]))
    for lang in ("en", "de", "fr", "ko", "pl"):
        name = "text/strings_%s.txt" % lang
        files[name] = v1[name][: len(v1[name]) // 2] + text(name, 20000, "v2") + v1[name][len(v1[name]) // 2:]
    for name in [n for n in files if n.startswith("sound/")]:
        files["audio/" + name[len("sound/"):]] = files.pop(name)
    del files["textures/old_0.dds"]
    del files["textures/old_1.dds"]
    files["data/packs/pack06.pak"] = rng("pack06").randbytes(5 * MIB)
    files["data/empty.cfg"] = b"[options]\r\nfullscreen=1\r\n"
    return files


def version3(v2):
    files = dict(v2)
    files["bin/halvrecht.exe"] = v2["bin/halvrecht.exe"] + code_like("exe-v3", 200000)
    pack = v2["data/packs/pack05.pak"]
    files["data/packs/pack05.pak"] = pack[: len(pack) // 4] + pack[len(pack) // 4 + 2 * MIB:]
    files["bin/render.dll"] = edit(v2["bin/render.dll"], "render", 25, "v3")
    for i in range(3):
        name = "maps/region%d.map" % i
        files[name] = rng(name).randbytes(MIB + i * 1000)
    files["text/strings_en.txt"] = v2["text/strings_en.txt"] + text("en", 5000, "v3")
    files["data/empty.cfg"] = b""
    return files


def write(root, files, previous_root, previous):
    for name, data in sorted(files.items()):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if previous is not None and previous.get(name) is data:
            os.link(os.path.join(previous_root, name), path)
            continue
        with open(path, "wb") as f:
            f.write(data)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    scale = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[2] == "--scale" else 1.0
    v1 = version1(scale)
    v2 = version2(v1)
    v3 = version3(v2)
    previous_root, previous = None, None
    for label, files in (("v1", v1), ("v2", v2), ("v3", v3)):
        root = os.path.join(out, label)
        if os.path.exists(root):
            sys.exit("synthetic_game: %s exists" % root)
        write(root, files, previous_root, previous)
        previous_root, previous = root, files
        print("  %s: %d files, %.1f MB" % (label, len(files), sum(len(d) for d in files.values()) / 1e6))


if __name__ == "__main__":
    main()
