"""What the end-to-end scripts share: running the built program as the tests
must (under capsh without CAP_SYS_TIME, the clock recorder preloaded, no
display, no system bus, settings of its own), reading what it recorded and
the outcome line, and each script's entry point, which runs the case named
on the command line in a temporary folder that is removed whatever happens.

A script's cases are its functions named case_<name>; CMake makes one test of
each (tests/support/e2e_cases.cmake), so a case is declared only there."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from daytime_server import Failure, check

RUN_TIMEOUT_S = 40
# ctest's SKIP_RETURN_CODE for these drivers.
SKIPPED = 77


class Skip(Exception):
    """The machine cannot give the test what it needs."""


# The part of the program with windows, which it loads from its own folder.
WINDOW_PART = "tempikon-window.so"


def copy_program(program, path):
    """Copies the program to path, with its window part beside the copy
    (root's, and only root may change it, as a privileged copy requires)."""
    shutil.copy(program, path)
    part = os.path.join(os.path.dirname(program), WINDOW_PART)
    if os.path.exists(part):  # a build for Windows has none
        beside = os.path.join(os.path.dirname(path), WINDOW_PART)
        shutil.copy(part, beside)
        os.chmod(beside, 0o644)


def cases(namespace):
    """The cases a script defines (its functions case_<name>), by name."""
    return {name[len("case_"):]: fn for name, fn in namespace.items()
            if name.startswith("case_") and callable(fn)}


def run(program, recorder, config_home, args, log_path, extra_env=None, user=None,
        stdout=None, wrap=(), timeout=RUN_TIMEOUT_S, stderr=None):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["XDG_CONFIG_HOME"] = config_home
    # The history goes beside the settings, never into the user's.
    env["XDG_STATE_HOME"] = config_home
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/nonexistent/tempikon-e2e"
    env["LD_PRELOAD"] = recorder
    env["TEMPIKON_CLOCK_LOG"] = log_path
    # In a sanitizer build the recorder is loaded ahead of the ASan runtime.
    asan = env.get("ASAN_OPTIONS", "")
    env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
    env.update(extra_env or {})
    # An unprivileged user is named to capsh, which drops to it after the right.
    as_user = [f"--user={user}"] if user else []
    cmd = list(wrap) + ["capsh", "--drop=cap_sys_time"] + as_user + [
        "--", "-c", 'exec "$@"', "tempikon", program] + args
    if stdout is None and stderr is None:
        return subprocess.run(cmd, env=env, capture_output=True, text=True,
                              timeout=timeout)
    return subprocess.run(cmd, env=env, stdout=subprocess.PIPE if stdout is None else stdout,
                          stderr=subprocess.PIPE if stderr is None else stderr, text=True,
                          timeout=timeout)


def seed(config_home, lines):
    folder = os.path.join(config_home, "Tempikon")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Tempikon.conf"), "w") as f:
        f.write("[CONFIG]\n" + "".join(l + "\n" for l in lines))


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [l.strip() for l in f if l.strip()]


def run_case(cases, opts, prefix):
    """Runs opts.case in a temporary folder; the exit status CTest reads."""
    with tempfile.TemporaryDirectory(prefix=prefix) as tmp:
        try:
            cases[opts.case](opts, tmp)
        except (Failure, subprocess.TimeoutExpired) as e:
            print(f"FAIL {opts.case}: {e}", file=sys.stderr)
            return 1
        except Skip as e:
            print(f"SKIP {opts.case}: {e}")
            return SKIPPED
    print(f"ok {opts.case}")
    return 0


def main(cases, prefix, *options):
    """Runs the case named on the command line, in a temporary folder; the
    options (beside --program) are paths every case is given."""
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(cases))
    parser.add_argument("--program", required=True)
    for option in options:
        parser.add_argument(option, required=True)
    return run_case(cases, parser.parse_args(), prefix)


# A slew under a millisecond is given in µs; an NTS setting says it was
# authenticated.
OUTCOME = re.compile(r"Time set to (\d\d:\d\d:\d\d) d=(-?\d+)s"
                     r"(?: slewed (?P<slewed>[+-]?\d+) (?P<unit>ms|µs))?"
                     r"(?P<nts>, authenticated \(NTS\))? \((?P<how>step|slew)\)")


def settings(log, r):
    """The recorded settings as (value, at) in seconds since the epoch."""
    out = []
    for record in read_log(log):
        m = re.search(r"value=(-?\d+\.\d+) at=(-?\d+\.\d+)", record)
        check(m is not None, f"a recorder line with value= and at=, got {record!r}", r)
        out.append((float(m.group(1)), float(m.group(2)), record))
    return out


def one_setting(log, r):
    found = settings(log, r)
    check(len(found) == 1, f"one recorded clock setting, got {[f[2] for f in found]}", r)
    return found[0]


def reasons(stderr):
    return [l for l in stderr.splitlines() if l.startswith("tempikon: ")]
