#!/usr/bin/env python3
"""Writes the demo catalogue into a folder served by tools/content_server.py:
one PC game (id 1001, "StarRunner", installed by the demo's silent setup) and
one emulator game (id 2002, "Star Blaster", a ROM run by the demo emulator,
which comes as a ZIP archive). Game information files are laid out where the
hall asks for them (/pcgame/js/ and /emgame/js/ plus the hashed id path) and
carry encrypted download addresses.

    make_catalogue.py WWW_FOLDER BASE_URL DEMO_BIN_FOLDER
"""
import hashlib
import os
import shutil
import sys
import zipfile
from xml.sax.saxutils import escape, quoteattr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from fileurl import encrypt_file_url  # noqa: E402

PC_GAME = "1001"
EMU_GAME = "2002"
EMULATOR = "FamiEmu"


def hashed_id_path(game_id):
    digest = hashlib.md5(("%d%s" % (int(game_id), "qatrip|804")).encode()).hexdigest()
    return "%s/%s/%d" % (digest[:2], digest[30:], int(game_id))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def part_xml(game_id, url, digest, extra=""):
    return ("    <MD5-%s>\n      <fileUrl>%s</fileUrl>\n%s    </MD5-%s>\n"
            % (digest, escape(encrypt_file_url(game_id, url)), extra, digest))


def game_xml(game_id, attributes, parts):
    attrs = " ".join("%s=%s" % (k, quoteattr(v)) for k, v in attributes.items())
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<game%s %s>\n  <clients>\n%s  </clients>\n</game%s>\n'
            % (game_id, attrs, "".join(parts), game_id)).encode("utf-8")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    www, base, bin_dir = sys.argv[1], sys.argv[2].rstrip("/"), sys.argv[3]

    setup = os.path.join(www, "files", "pc", PC_GAME, "StarRunnerSetup.exe")
    os.makedirs(os.path.dirname(setup), exist_ok=True)
    shutil.copyfile(os.path.join(bin_dir, "demo_setup.exe"), setup)
    setup_digest = hashlib.md5(open(setup, "rb").read()).hexdigest()
    extra = ("      <startupFile>StarRunner.exe</startupFile>\n"
             "      <startupRelativelyFileInfo>.</startupRelativelyFileInfo>\n")
    write(os.path.join(www, "pcgame", "js", hashed_id_path(PC_GAME) + ".xml"),
          game_xml(PC_GAME, {"name": "StarRunner"},
                   [part_xml(PC_GAME, base + "/files/pc/1001/StarRunnerSetup.exe", setup_digest, extra)]))

    rom = b"NES\x1a" + bytes(range(256)) * 64
    write(os.path.join(www, "files", "em", EMU_GAME, "starblaster.nes"), rom)
    archive = os.path.join(www, "files", "emu", EMULATOR + ".zip")
    os.makedirs(os.path.dirname(archive), exist_ok=True)
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(bin_dir, "demo_emulator.exe"), EMULATOR + "/" + EMULATOR + ".exe")
        z.writestr(EMULATOR + "/roms/", b"")
        z.writestr(EMULATOR + "/readme.txt", "Demo emulator: logs the ROM it is given.\r\n")
    write(os.path.join(www, "emgame", "js", hashed_id_path(EMU_GAME) + ".xml"),
          game_xml(EMU_GAME, {"name": "Star Blaster", "pkgName": "starblaster.nes", "runFlat": EMULATOR,
                              "downloadUrl": base + "/files/emu/" + EMULATOR + ".zip",
                              "emuStartFile": EMULATOR + ".exe"},
                   [part_xml(EMU_GAME, base + "/files/em/2002/starblaster.nes", hashlib.md5(rom).hexdigest())]))


if __name__ == "__main__":
    main()
