#!/usr/bin/python3
"""Installs the program from a build into a prefix, checks the program
folder it lays out, moves a copy of it elsewhere and starts that copy on a
virtual desktop; packs the archive and checks what it holds.

  install_check.py --build DIR --prefix DIR [--out DIR]
"""

import argparse
import os
import select
import shlex
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import urllib.request

# The modules beside this script; no byte code is left in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop import VirtualDesktop, WalkError, become_subreaper, log  # noqa: E402
from walk import APP, Walk  # noqa: E402

PROGRAMS = [APP, "conv", "add-to-menu"]
ICON = "share/icons/hicolor/64x64/apps/ombrix-zudodira.png"
ENTRY = "share/applications/ombrix-zudodira.desktop"
RUFFLE = ["ruffle.js", "LICENSE_MIT", "LICENSE_APACHE"]
NO_PAGE = 'There is no player page to preview yet. Convert a clip and press "Generate Player" first'


def check(condition, message):
    if not condition:
        raise WalkError(message)


def movies(build):
    html = os.path.join(build, "html")
    return sorted(f for f in os.listdir(html) if f.endswith(".swf")) if os.path.isdir(html) else []


def read_entry(path, group="Desktop Entry"):
    """The keys of one group of a desktop entry, checked by desktop-file-validate."""
    validation = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
    check(validation.returncode == 0 and not validation.stdout.strip(),
          f"desktop-file-validate {path}:\n{validation.stdout}{validation.stderr}")
    entry, current = {}, None
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    check(lines and lines[0] == "[Desktop Entry]", f"{path} does not start with [Desktop Entry]")
    for line in lines:
        if line.startswith("["):
            current = line[1:-1]
        elif line and not line.startswith("#") and current == group:
            key, _, value = line.partition("=")
            entry[key] = value
    return entry


def exec_arguments(value):
    """An Exec value as the arguments it runs. The folder names here hold
    blanks and a UTF-8 letter but none of the characters the entry escapes,
    so shell-style splitting reads it as a desktop does."""
    return shlex.split(value)


def read_line(stream, deadline=30):
    """One line of a child's output, or what came before the deadline."""
    got = b""
    end = time.monotonic() + deadline
    while not got.endswith(b"\n") and time.monotonic() < end:
        if select.select([stream], [], [], 0.5)[0]:
            byte = os.read(stream.fileno(), 1)
            if not byte:
                break
            got += byte
    return got.decode("utf-8", "replace").strip()


def check_actions(folder, menu, out):
    """The entry's actions, the first two run as a desktop runs them: the file manager
    (here a stand-in that notes what it was asked to open) gets html/, and
    the preview says what to do without a page and serves one when there is."""
    entry = os.path.join(menu, "ombrix-zudodira.desktop")
    check(read_entry(entry)["Actions"] == "HtmlFilesFolder;PreviewPlayerPage;PublishPlayerPage;",
          "the entry's actions are wrong")
    html = read_entry(entry, "Desktop Action HtmlFilesFolder")
    preview = read_entry(entry, "Desktop Action PreviewPlayerPage")
    publish = read_entry(entry, "Desktop Action PublishPlayerPage")
    check(html["Name"] == "Html Files Folder" and preview["Name"] == "Preview Player Page" and
          publish["Name"] == "Publish Player Page",
          f"the actions are named {html['Name']!r}, {preview['Name']!r} and {publish['Name']!r}")
    check(exec_arguments(publish["Exec"])[1:] == ["--publish"], f"Publish Player Page runs {publish['Exec']!r}")

    stand_in = os.path.join(out, "file-manager")
    os.makedirs(stand_in, exist_ok=True)
    with open(os.path.join(stand_in, "xdg-open"), "w") as f:
        f.write('#!/bin/sh\nprintf "%s\\n" "$@" >"$(dirname "$0")/opened"\n')
    os.chmod(os.path.join(stand_in, "xdg-open"), 0o755)
    env = dict(os.environ, PATH=stand_in + os.pathsep + os.environ["PATH"], QT_QPA_PLATFORM="offscreen")
    subprocess.run(exec_arguments(html["Exec"]), env=env, check=True, timeout=30)
    with open(os.path.join(stand_in, "opened"), encoding="utf-8") as f:
        opened = f.read()
    check(opened == os.path.join(folder, "html") + "\n", f"Html Files Folder opened {opened!r}")

    def run_preview():
        return subprocess.Popen(exec_arguments(preview["Exec"]), env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    program = run_preview()
    try:
        said = read_line(program.stderr)
        while said and NO_PAGE not in said and program.poll() is None:
            said = read_line(program.stderr)
        check(NO_PAGE in said, f"without a page the preview said {said!r}")
    finally:
        program.kill()
        program.wait()

    page = b"<html> <body>\r\n<br>\r\n</body> </html>\r\n"
    with open(os.path.join(folder, "html", "TempHtml.html"), "wb") as f:
        f.write(page)
    program = run_preview()
    try:
        address = read_line(program.stdout)
        check(address.startswith("http://127.0.0.1:"), f"the preview printed {address!r}")

        def fetch(path):
            with urllib.request.urlopen(address + path, timeout=30) as answer:
                return answer.headers.get("Content-Type"), answer.read()

        index = fetch("")[1]
        check(b'src="SitePage.html"' in index,
              f"the index page is {index!r}")
        check(fetch("TempHtml.html")[1] == page, "the page was not served as written")
        check(fetch("ruffle/ruffle.js")[0] == "text/javascript", "ruffle.js is not served as a script")
    finally:
        program.kill()
        program.wait()
        os.remove(os.path.join(folder, "html", "TempHtml.html"))


def check_folder(folder, build, entry_folder):
    for name in PROGRAMS:
        path = os.path.join(folder, name)
        check(os.path.isfile(path) and os.access(path, os.X_OK), f"{path} is missing or not executable")
    check(os.path.isdir(os.path.join(folder, "html", "flvs")), "html/flvs/ is missing")
    check(not os.listdir(os.path.join(folder, "html", "flvs")), "html/flvs/ is not empty")
    check(not os.path.exists(os.path.join(folder, "html", "TempHtml.html")), "a page came with the installation")
    for movie in movies(build):
        check(os.path.isfile(os.path.join(folder, "html", movie)), f"the player movie html/{movie} is missing")
    ruffle = os.listdir(os.path.join(folder, "html", "ruffle"))
    check(all(name in ruffle for name in RUFFLE) and any(name.endswith(".wasm") for name in ruffle),
          f"html/ruffle/ holds {sorted(ruffle)}")
    check(not any(name.endswith(".map") for name in ruffle), "html/ruffle/ holds source maps")

    with open(os.path.join(folder, ICON), "rb") as f:
        header = f.read(24)
    check(header[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", header[16:24]) == (64, 64),
          f"{ICON} is not a 64x64 PNG")

    if entry_folder is not None:
        entry = read_entry(os.path.join(folder, ENTRY))
        check(entry.get("Type") == "Application" and entry.get("Name") == "Ombrix Zudodira",
              f"the desktop entry's type or name is wrong: {entry}")
        check(entry.get("Exec") == f'"{entry_folder}/{APP}" %f', f"the entry's Exec is {entry.get('Exec')!r}")
        check("video/x-msvideo" in entry.get("MimeType", "").split(";"), "the entry does not open videos")
        check(entry.get("Icon") == f"{entry_folder}/{ICON}", f"the entry's Icon is {entry.get('Icon')!r}")

    # Nothing ties the programs to the build: no run path, and every library
    # they need is found from the system.
    for name in (APP, "conv"):
        path = os.path.join(folder, name)
        dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
        check("RPATH" not in dynamic and "RUNPATH" not in dynamic, f"{name} carries a run path")
        check(build not in dynamic, f"{name} names the build folder in its dynamic section")
        libraries = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
        check("not found" not in libraries, f"{name} misses libraries:\n{libraries}")


def smoke(folder, out):
    """The moved copy starts, shows its main window and ends at its close box."""
    become_subreaper()
    with VirtualDesktop() as desk:
        with Walk(desk, folder, out, "smoke") as walk:
            main = walk.ready(walk.main_window, "the main window")
            walk.shot("main-window", main)
            walk.close_window(main)
            walk.finish()


def check_archive(build, out):
    packages = os.path.join(out, "package")
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", packages],
                   check=True, capture_output=True)
    archives = [f for f in os.listdir(packages) if f.endswith(".tar.gz")]
    check(len(archives) == 1, f"cpack made {archives}")
    unpacked = os.path.join(out, "unpacked")
    with tarfile.open(os.path.join(packages, archives[0])) as archive:
        tops = {name.split("/")[0] for name in archive.getnames()}
        check(len(tops) == 1, f"the archive has more than one top folder: {tops}")
        archive.extractall(unpacked)
    folder = os.path.join(unpacked, tops.pop())
    check_folder(folder, build, entry_folder=None)
    check(not os.path.exists(os.path.join(folder, ENTRY)), "the archive holds a desktop entry for a place it is not")
    return archives[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--out")
    args = parser.parse_args()
    build, prefix = os.path.abspath(args.build), os.path.abspath(args.prefix)
    out = os.path.abspath(args.out) if args.out else tempfile.mkdtemp(prefix="oz-install-")
    os.makedirs(out, exist_ok=True)
    began = time.monotonic()

    shutil.rmtree(prefix, ignore_errors=True)
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    check_folder(prefix, build, entry_folder=prefix)
    log(f"installed and checked: {prefix}")

    # Moved to a folder whose name holds a blank and a UTF-8 letter.
    moved = os.path.join(out, "moved here", "Ombrix Zudodira é")
    shutil.copytree(prefix, moved, symlinks=True)
    menu = os.path.join(out, "menu")
    subprocess.run([os.path.join(moved, "add-to-menu"), menu], check=True, stdout=subprocess.DEVNULL,
                   env={k: v for k, v in os.environ.items() if k != "OZ_PROGRAM_FOLDER"})
    entry = read_entry(os.path.join(menu, "ombrix-zudodira.desktop"))
    check(entry["Exec"] == f'"{moved}/{APP}" %f', f"add-to-menu in the moved folder wrote Exec={entry['Exec']}")
    smoke(moved, out)
    log(f"the moved copy ran: {moved}")
    check_actions(moved, menu, out)
    log("the menu entry's actions work")

    archive = check_archive(build, out)
    log(f"archive checked: {archive}")
    for large in ("moved here", "package", "unpacked"):
        shutil.rmtree(os.path.join(out, large))
    log(f"Output folder: {out}")
    log(f"install check passed in {time.monotonic() - began:.1f} s")
    log("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (WalkError, subprocess.CalledProcessError) as error:
        log(f"FAILED: {error}")
        log("0 passed, 1 failed")
        sys.exit(1)
