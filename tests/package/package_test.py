#!/usr/bin/env python3
"""The Debian package: build it with CPack, check it, run what it installs.

usage: package_test.py CASE --work DIR --cpack-config FILE --version V
                       --source DIR --driver LIB --recorder LIB

build       runs cpack into DIR/cpack and unpacks the package into DIR/root
contents    the package's file list, modes and control fields
metadata    desktop entries, AppStream metainfo and the systemd unit example
lintian     lintian reports no errors and no warnings
runonce     the installed program, one-shot and headless, without and with
            a configuration
server_list the installed program finds its installed server list and help
            page from an empty working folder

The installed program always runs under capsh without CAP_SYS_TIME, without
a display, a system bus or the user's settings.
"""
import argparse
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import DaytimeServer, Failure, check  # noqa: E402
from test_addresses import Block  # noqa: E402

PACKAGE = Block("package")

RUN_TIMEOUT_S = 60
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
METAINFO = "usr/share/metainfo/io.github.tempikon.tempikon.metainfo.xml"
DESKTOP = "usr/share/applications/tempikon.desktop"
EXAMPLES = "usr/share/doc/tempikon/examples"
DATA = "usr/share/tempikon"
WEB = "https://tempikon.github.io/"

WINDOW_PART = "usr/libexec/tempikon/tempikon-window.so"

EXPECTED_FILES = {
    "usr/bin/tempikon",
    WINDOW_PART,
    DESKTOP,
    METAINFO,
    "usr/share/doc/tempikon/README.md",
    "usr/share/doc/tempikon/changelog.gz",
    "usr/share/doc/tempikon/copyright",
    "usr/share/doc/tempikon/linux-clock.md",
    EXAMPLES + "/tempikon-autostart.desktop",
    EXAMPLES + "/tempikon.service",
    "usr/share/icons/hicolor/scalable/apps/tempikon.svg",
    "usr/share/man/man1/tempikon.1.gz",
    DATA + "/help.html",
    DATA + "/timeservers.dat",
    DATA + "/translations/tempikon_de.qm",
} | {f"usr/share/icons/hicolor/{n}x{n}/apps/tempikon.png" for n in ICON_SIZES}

# Installed files that must be the project's own, byte for byte.
SAME_AS_SOURCE = {
    DATA + "/timeservers.dat": "data/timeservers.dat",
    DATA + "/help.html": "data/help.html",
    DESKTOP: "data/tempikon.desktop",
    METAINFO: "data/io.github.tempikon.tempikon.metainfo.xml",
    EXAMPLES + "/tempikon.service": "data/tempikon.service",
    "usr/share/doc/tempikon/copyright": "data/copyright",
}


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def root_of(opts):
    return os.path.join(opts.work, "root")


def the_deb(opts):
    debs = glob.glob(os.path.join(opts.work, "cpack", "*.deb"))
    check(len(debs) == 1, f"one package in {opts.work}/cpack, found {debs}")
    return debs[0]


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


# ---- build --------------------------------------------------------------------

def case_build(opts):
    shutil.rmtree(opts.work, ignore_errors=True)
    os.makedirs(opts.work)
    r = run(["cpack", "--config", opts.cpack_config, "-G", "DEB",
             "-B", os.path.join(opts.work, "cpack")])
    check(r.returncode == 0, "cpack builds the package", r)
    deb = the_deb(opts)
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    check(os.path.basename(deb) == f"tempikon_{opts.version}_{arch}.deb",
          f"package file named after name, version and architecture, got {deb}")
    r = run(["dpkg-deb", "-x", deb, root_of(opts)])
    check(r.returncode == 0, "the package unpacks", r)


# ---- contents -----------------------------------------------------------------

def png_size(path):
    data = read(path, "rb")[:24]
    check(data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", f"{path} is a PNG")
    return struct.unpack(">II", data[16:24])


def case_contents(opts):
    deb = the_deb(opts)
    r = run(["dpkg-deb", "-c", deb])
    check(r.returncode == 0, "dpkg-deb lists the package", r)
    files = set()
    for line in r.stdout.splitlines():
        # drwxr-xr-x root/root 0 2026-12-07 05:16 ./usr/share/
        mode, owner, _size, _day, _time, path = line.split(None, 5)
        path = path.removeprefix("./").rstrip("/")
        check(owner == "root/root", f"{path} belongs to root, not {owner}")
        check(path.startswith("usr/") or path == "usr", f"{path} lies under /usr")
        check(not path.startswith("usr/local"), f"nothing under /usr/local: {path}")
        if mode.startswith("d"):
            check(mode == "drwxr-xr-x", f"folder {path} is 755, not {mode}")
        elif path == "usr/bin/tempikon":
            check(mode == "-rwxr-xr-x", f"the program is 755, not {mode}")
            files.add(path)
        else:
            check(mode == "-rw-r--r--", f"{path} is 644, not {mode}")
            files.add(path)
    check(files == EXPECTED_FILES,
          f"the package's files\n  missing {sorted(EXPECTED_FILES - files)}"
          f"\n  unexpected {sorted(files - EXPECTED_FILES)}")

    root = root_of(opts)
    for installed, source in SAME_AS_SOURCE.items():
        check(read(os.path.join(root, installed), "rb") ==
              read(os.path.join(opts.source, source), "rb"),
              f"{installed} is the project's {source}")
    for n in ICON_SIZES:
        icon = os.path.join(root, f"usr/share/icons/hicolor/{n}x{n}/apps/tempikon.png")
        check(png_size(icon) == (n, n), f"the {n}x{n} icon is {n} by {n} pixels")

    for binary in ("usr/bin/tempikon", WINDOW_PART):
        r = run(["readelf", "-S", "-W", os.path.join(root, binary)])
        check(r.returncode == 0 and ".text" in r.stdout, f"{binary} is an ELF binary", r)
        check(".symtab" not in r.stdout and ".debug_" not in r.stdout,
              f"{binary} is stripped", r)

    fields = {name: run(["dpkg-deb", "-f", deb, name]).stdout.strip()
              for name in ("Package", "Version", "Maintainer", "Depends")}
    check(fields["Package"] == "tempikon" and fields["Version"] == opts.version,
          f"package tempikon {opts.version}: {fields}")
    check(re.fullmatch(r"[^<>]+ <[^@<>\s]+@[^@<>\s]+>", fields["Maintainer"]) is not None,
          f"a maintainer with a mail address: {fields['Maintainer']}")
    # Worked out from the binary: the libraries it links, with versions.
    for lib in ("libc6", "libqt6core6", "libqt6widgets6", "libstdc++6", "libgnutls30"):
        check(re.search(rf"(^|, ){re.escape(lib)} \(>= [^)]+\)", fields["Depends"]),
              f"Depends names {lib} with a version: {fields['Depends']}")


# ---- metadata -----------------------------------------------------------------

def desktop_entry(path):
    entry, group = {}, None
    for line in read(path).splitlines():
        if line.startswith("["):
            group = line.strip("[]")
        elif "=" in line and group == "Desktop Entry":
            key, value = line.split("=", 1)
            entry[key.strip()] = value.strip()
    return entry


def case_metadata(opts):
    root = root_of(opts)
    for entry in (DESKTOP, EXAMPLES + "/tempikon-autostart.desktop"):
        r = run(["desktop-file-validate", os.path.join(root, entry)])
        check(r.returncode == 0 and "error" not in r.stdout and "warning" not in r.stdout,
              f"desktop-file-validate accepts {entry}", r)
        fields = desktop_entry(os.path.join(root, entry))
        program = fields.get("Exec", "").split()[0]
        check(os.path.isfile(os.path.join(root, "usr/bin", program)),
              f"{entry} starts a program the package installs: {fields.get('Exec')}")
        check(os.path.isfile(os.path.join(
                  root, "usr/share/icons/hicolor/scalable/apps", fields.get("Icon", "") + ".svg")),
              f"{entry} names an installed icon: {fields.get('Icon')}")
    autostart = desktop_entry(os.path.join(root, EXAMPLES + "/tempikon-autostart.desktop"))
    check("/SERVER" in autostart["Exec"].split(), "the autostart entry starts resident mode")

    r = run(["appstreamcli", "validate", "--no-net", os.path.join(root, METAINFO)])
    check(r.returncode == 0, "appstreamcli validates the metainfo", r)
    # Metainfo, desktop entry and icons as software centres see them together.
    r = run(["appstreamcli", "validate-tree", "--no-net", root])
    check(r.returncode == 0, "appstreamcli validates the installed tree", r)

    meta = ET.parse(os.path.join(root, METAINFO)).getroot()
    launchable = meta.findtext("launchable")
    check(os.path.join("usr/share/applications", launchable or "") == DESKTOP,
          f"the metainfo launches the installed desktop entry: {launchable}")
    binary = meta.findtext("provides/binary")
    check(binary and os.path.isfile(os.path.join(root, "usr/bin", binary)),
          f"the metainfo's binary is installed: {binary}")
    releases = [r.get("version") for r in meta.iter("release")]
    check(releases and releases[0] == opts.version,
          f"the newest release is {opts.version}: {releases}")
    images = [i.text.strip() for i in meta.iter("image")]
    check(images, "the metainfo has screenshots")
    for url in images:
        check(url.startswith(WEB), f"screenshot on the project's site: {url}")
        local = os.path.join(opts.source, url[len(WEB):])
        check(os.path.isfile(local), f"screenshot {url} is the project's {local}")

    check_unit(opts, root)


def check_unit(opts, root):
    unit_path = os.path.join(root, EXAMPLES, "tempikon.service")
    text = read(unit_path)
    keys = {}
    for line in text.splitlines():
        if "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            keys.setdefault(key.strip(), []).append(value.strip())
    check(keys.get("ExecStart") == ["/usr/bin/tempikon /SERVER"], f"resident mode: {keys}")
    check(keys.get("AmbientCapabilities") == ["CAP_SYS_TIME"], "the right to set the clock")
    check(keys.get("CapabilityBoundingSet") == ["CAP_SYS_TIME"], "and no other capability")
    user = keys.get("User", [""])[0]
    check(user and user != "root", f"a dedicated user, not root: {user!r}")
    home = dict(v.split("=", 1) for v in keys.get("Environment", []) if "=" in v).get("HOME")
    settings = f"{home}/.config/Tempikon/Tempikon.conf"
    check(home and settings in text, f"the unit says where {user}'s settings live: {settings}")
    # systemd's own check, with the program where the throwaway root has it.
    with tempfile.TemporaryDirectory(prefix="tempikon-unit-") as tmp:
        copy = os.path.join(tmp, "tempikon.service")
        with open(copy, "w") as f:
            f.write(text.replace("ExecStart=/usr/bin/tempikon",
                                 "ExecStart=" + os.path.join(root, "usr/bin/tempikon")))
        r = run(["systemd-analyze", "verify", "--man=no", copy])
        check(r.returncode == 0 and r.stderr.strip() == "" and r.stdout.strip() == "",
              "systemd-analyze finds nothing wrong with the unit", r)
        # Its exposure score (0 to 10, lower is safer) stays at 2.5 or below.
        r = run(["systemd-analyze", "security", "--offline=yes", "--threshold=25", copy])
        score = re.search(r"Overall exposure level for \S+: (\d+\.\d)", r.stdout)
        check(r.returncode == 0 and score and float(score.group(1)) <= 2.5,
              f"exposure score at most 2.5, got {score and score.group(1)}", r)


# ---- lintian ------------------------------------------------------------------

def case_lintian(opts):
    r = run(["lintian", "--fail-on", "error,warning", the_deb(opts)])
    problems = [l for l in r.stdout.splitlines() if re.match(r"[EW]: ", l)]
    check(r.returncode == 0 and not problems, f"lintian: {problems}", r)


# ---- running the installed program --------------------------------------------

def installed_program(opts):
    return os.path.join(root_of(opts), "usr/bin/tempikon")


def run_installed(opts, tmp, args, extra_env=None):
    """The installed program from an empty working folder, settings in tmp."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LD_PRELOAD")}
    env["XDG_CONFIG_HOME"] = os.path.join(tmp, "config")
    env["XDG_STATE_HOME"] = os.path.join(tmp, "state")
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/nonexistent/tempikon-package"
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/tempikon-package"
    env.update(extra_env or {})
    cwd = os.path.join(tmp, "work")
    os.makedirs(cwd, exist_ok=True)
    os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
    cmd = ["capsh", "--drop=cap_sys_time", "--", "-c", 'exec "$@"', "tempikon",
           installed_program(opts)] + args
    r = subprocess.run(cmd, env=env, cwd=cwd, capture_output=True, text=True,
                       timeout=RUN_TIMEOUT_S)
    check(os.listdir(cwd) == [], "the program leaves the working folder empty", r)
    return r


def seed(tmp, lines):
    folder = os.path.join(tmp, "config", "Tempikon")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Tempikon.conf"), "w") as f:
        f.write("[CONFIG]\n" + "".join(l + "\n" for l in lines))


def case_runonce(opts):
    with tempfile.TemporaryDirectory(prefix="tempikon-package-") as tmp:
        r = run_installed(opts, tmp, ["/RUNONCE"])
        check(r.returncode == 2, "exit status 2 without a configuration", r)
        check("You must go through the configuration first." in r.stderr,
              "says so on stderr", r)
        check(os.listdir(os.path.join(tmp, "config")) == [],
              "a one-shot run writes no settings", r)

    with tempfile.TemporaryDirectory(prefix="tempikon-package-") as tmp:
        server = DaytimeServer(PACKAGE.at(0), b"Mon Dec 07 2026 14:03:27-UTC\r\n")
        try:
            seed(tmp, [f"Server={PACKAGE.at(0)}", "Offset=0", "Timeout=10"])
            log = os.path.join(tmp, "clock.log")
            r = run_installed(opts, tmp, ["/RUNONCE"], {
                "LD_PRELOAD": opts.recorder, "TEMPIKON_CLOCK_LOG": log})
        finally:
            server.close()
        check(r.returncode == 0, "exit status 0 when the clock was set", r)
        check(re.fullmatch(r"Time set to 14:03:27 d=-?\d+s \(step\)\n", r.stdout) is not None,
              "the outcome line on stdout", r)
        check(server.connections == 1, "one query of the configured server")
        records = read(log).splitlines() if os.path.exists(log) else []
        check(len(records) == 1 and " 14:03:27 " in records[0],
              f"one clock setting to 14:03:27, recorded: {records}", r)


def case_server_list(opts):
    with tempfile.TemporaryDirectory(prefix="tempikon-package-") as tmp:
        # A root of its own, whose list carries a marker: the entries must
        # come from this installed file, not from anywhere else.
        root = os.path.join(tmp, "root")
        r = run(["dpkg-deb", "-x", the_deb(opts), root])
        check(r.returncode == 0, "the package unpacks", r)
        listed = os.path.join(root, DATA, "timeservers.dat")
        marker = "XX marker.tempikon.invalid  The installed list\r\n"
        with open(listed, "a", newline="") as f:
            f.write(marker)
        expected = [l.rstrip() for l in read(listed, "rb").decode().split("\r\n") if l]
        check(expected[-1] == marker.rstrip(), "the marker is the list's last entry")

        seed(tmp, [f"Server={PACKAGE.at(1)}", "Timeout=3"])
        out = os.path.join(tmp, "driver.txt")
        local = argparse.Namespace(**vars(opts))
        local.work = tmp
        r = run_installed(local, tmp, [], {
            "QT_QPA_PLATFORM": "offscreen",
            "LD_PRELOAD": opts.driver,
            "TEMPIKON_DRIVER_OUT": out})
        said = read(out).splitlines() if os.path.exists(out) else []
        check(not any(l.startswith("stuck") for l in said), f"the driver got stuck: {said}", r)
        entries = [l.split("\t", 1)[1].rstrip() for l in said if l.startswith("entry\t")]
        check(entries == expected,
              f"the dialog lists the installed servers\n  expected {expected}"
              f"\n  listed {entries}", r)
        check("closed" in said and r.returncode == 0, "the program ends with its window", r)
        help_page = "file://" + os.path.join(root, DATA, "help.html")
        check(f"Not opened without a display: {help_page}" in r.stderr.splitlines(),
              f"Help opens the installed help page {help_page}", r)


CASES = {
    "build": case_build,
    "contents": case_contents,
    "metadata": case_metadata,
    "lintian": case_lintian,
    "runonce": case_runonce,
    "server_list": case_server_list,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--work", required=True)
    parser.add_argument("--cpack-config", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--recorder", required=True)
    opts = parser.parse_args()
    # The program runs from a folder of its own.
    for name in ("work", "cpack_config", "source", "driver", "recorder"):
        setattr(opts, name, os.path.abspath(getattr(opts, name)))
    try:
        CASES[opts.case](opts)
    except (Failure, subprocess.TimeoutExpired) as e:
        print(f"FAIL {opts.case}: {e}", file=sys.stderr)
        return 1
    print(f"ok {opts.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
