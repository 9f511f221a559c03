#!/usr/bin/env python3
"""A private NTS server in the configuration dialog, on a real X server with
a window manager (Xvfb and openbox): chronyd serving NTS with a certificate
of its own, configured as the primary with that certificate trusted, is
checked from the list, adopted as the backup with its certificate, and then
sets the clock in a one-shot run with the settings the dialog stored.

usage: dialog_nts_e2e.py CASE --program PATH --recorder PATH --chrony-dir DIR

chronyd is unpacked into DIR (never installed) and runs with -x as nobody;
the program runs under capsh without CAP_SYS_TIME with the clock recorder
preloaded. Exit code 77 (skipped) without chronyd or the X tools.
Addresses: block dialog_nts of tests/support/test_addresses.txt.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from chrony_e2e import KE_PORT, check_set_from_chrony, nts_chrony  # noqa: E402
from daytime_server import check  # noqa: E402
from desktop import SKIP, TITLE, Program, run_on_desktop, seed, shown, stored  # noqa: E402
from e2e import cases, reasons, run  # noqa: E402
from ntp_servers import ChronyUnavailable, find_chronyd  # noqa: E402
from test_addresses import Block  # noqa: E402

BLOCK = Block("dialog_nts")
# chronyd, and an address where nothing listens (refused at once).
PRIVATE, CLOSED = BLOCK.at(0), BLOCK.at(1)

# Places in the dialog at the X server's 96 dpi (twips / 15): a spot with
# no tip, the list's first two entries, and inside each server's trust
# field, right of where its label and the "sends UTC" box would be.
NO_TIP = (3, 3)
ENTRY_Y = (176, 192)
TRUST_FIELDS = {"primary": (400, 525, 54, 69), "backup": (400, 525, 118, 133)}


def tips(desktop, base):
    """The program's visible windows that were not there before: its tips."""
    return desktop.menus() - base


def tip_width(desktop, dialog, base, row):
    """The width of the tip of the list's entry in row: it holds the whole
    entry, so it grows with a check's result."""
    desktop.x(["xdotool", "mousemove", "--window", dialog] + [str(v) for v in NO_TIP])
    desktop.until(lambda: not tips(desktop, base), "no tip is shown")
    desktop.x(["xdotool", "mousemove", "--window", dialog, "60", str(ENTRY_Y[row])])
    tip = desktop.until(lambda: next(iter(tips(desktop, base)), None),
                        "the tip of entry %d shows" % row)
    shell = desktop.x(["xdotool", "getwindowgeometry", "--shell", tip])
    geometry = dict(l.split("=", 1) for l in shell.split() if "=" in l)
    return int(geometry.get("WIDTH", 0))


def grown_tip(desktop, dialog, base, row, before):
    """Waits until the entry's tip is wider than before (its check has
    written a result); returns the new width."""
    return desktop.until(lambda: (lambda w: w if w > before else None)(
        tip_width(desktop, dialog, base, row)), "entry %d shows a result" % row)


def text_in(desktop, wid, box):
    """How many dark (text) pixels lie in the box (left, right, top, bottom)."""
    width, height, rgb = desktop.pixels(wid)
    left, right, top, bottom = box
    dark = 0
    for y in range(top, min(bottom, height)):
        for x in range(left, min(right, width)):
            i = 3 * (y * width + x)
            if sum(rgb[i:i + 3]) < 200:
                dark += 1
    return dark


def case_private_server(desktop, opts, tmp):
    # The dialog checks and adopts the private server with the certificate
    # its configured twin trusts; OK stores it with the adopted backup; the
    # one-shot run then sets the clock through that backup (the primary,
    # typed in the dialog, refuses).
    server, cert = nts_chrony(opts, tmp, PRIVATE)
    with open(os.path.join(tmp, "timeservers.dat"), "w") as f:
        for host in (PRIVATE, CLOSED):
            f.write(f"LO {host}:{KE_PORT} NTS  Private server\r\n")
    seed(tmp, [f"Server={PRIVATE}:{KE_PORT}", "Protocol=NTS",
               f"TrustedCertificates={cert.trust}", "Timeout=5", "Step=always"])
    with server:
        prog = Program(desktop, opts, tmp, [])
        try:
            main = desktop.window(TITLE)
            desktop.keys(main, "alt+c")
            dialog = desktop.window("Configuration")
            base = desktop.menus()
            # The primary is NTS: its certificate file shows; the backup has
            # none configured (Daytime): no trust field.
            desktop.until(lambda: text_in(desktop, dialog, TRUST_FIELDS["primary"]) > 10,
                          "the primary's trust field shows its file")
            check(text_in(desktop, dialog, TRUST_FIELDS["backup"]) == 0,
                  "no trust field for the Daytime backup")

            before = [tip_width(desktop, dialog, base, row) for row in (0, 1)]
            desktop.keys(dialog, "alt+l", "Home", "alt+s")
            good = grown_tip(desktop, dialog, base, 0, before[0])
            desktop.keys(dialog, "alt+l", "Down", "alt+s")
            refused = grown_tip(desktop, dialog, base, 1, before[1])
            # "[hh:mm:ss +0.000s authenticated]" against "[Timeout ]": the
            # same entry but for the address, grown by far more.
            check(good - before[0] > 2 * (refused - before[1]),
                  "the private server's check shows a time (its tip grew by %d pixels, the "
                  "closed port's by %d)" % (good - before[0], refused - before[1]))
            check(shown(desktop, TITLE) == [main], "no message box")

            # Adopted as the backup from the keyboard: its row turns NTS and
            # shows the certificate file that came with it.
            desktop.keys(dialog, "alt+l", "Home")
            menus = desktop.menus()
            desktop.keys(dialog, "shift+F10")
            desktop.menu_opened(menus)
            desktop.keys(dialog, "b")
            desktop.until(lambda: text_in(desktop, dialog, TRUST_FIELDS["backup"]) > 10,
                          "the adopted backup's trust field shows its file")
            check(shown(desktop, TITLE) == [main], "adopted without a \"didn't answer\" box")
            # The primary: the closed port, so that the run needs the backup.
            desktop.keys(dialog, "alt+p", "ctrl+a")
            desktop.x(["xdotool", "type", "--delay", "30", f"{CLOSED}:{KE_PORT}"])
            desktop.keys(dialog, "alt+o")
            desktop.gone("Configuration")
            values = stored(tmp)
            wanted = {"Server": f"{CLOSED}:{KE_PORT}", "Server2": f"{PRIVATE}:{KE_PORT}",
                      "Protocol2": "NTS", "TrustedCertificates": cert.trust,
                      "TrustedCertificates2": cert.trust}
            check(all(values.get(k) == v for k, v in wanted.items()),
                  "OK stored the adopted server with its certificates: %s" % values)
        finally:
            prog.end()

        log = os.path.join(tmp, "runonce-clock.log")
        r = run(opts.program, opts.recorder, os.path.join(tmp, "config"), ["/RUNONCE"], log)
        check_set_from_chrony(r, log, "the adopted backup over NTS")
        check(", authenticated (NTS)" in r.stdout, "the outcome says it was authenticated", r)
        said = reasons(r.stderr)
        check(len(said) == 1 and said[0].startswith(f"tempikon: {CLOSED}"),
              "one reason, the refusing primary's", r)


CASES = cases(globals())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--chrony-dir", required=True)
    opts = parser.parse_args()
    opts.program = os.path.abspath(opts.program)
    opts.recorder = os.path.abspath(opts.recorder)
    try:
        opts.chronyd = find_chronyd(opts.chrony_dir)
    except ChronyUnavailable as e:
        print("skipped: %s" % e)
        return SKIP
    return run_on_desktop(CASES[opts.case], opts, "tempikon-dialog-nts-", ["xmessage", "import"],
                          sets_clock=False)

if __name__ == "__main__":
    sys.exit(main())
