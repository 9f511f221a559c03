#!/usr/bin/env python3
"""Privileged copies of the built program run by another user who names a
plugin or module of the test's own in every place a user controls:
arguments, variables and GTK's settings file. The test's plugin writes a
marker file next to itself when it is loaded; none may appear.

usage: secure_exec_e2e.py CASE --program PATH --platform-plugin PATH
                          --theme-plugin PATH

CASE trust_file has the copies read a file of trusted certificates that only
the setgid copy's group may read: each must be refused as its user would be.
CASE headless runs without a display; desktop on an Xvfb server of its own,
where GNOME's session makes Qt load GTK. Each row runs three copies as
nobody: a plain one, which must load the test's code (else the row would
prove nothing), a setgid one and one with a harmless file capability
(cap_net_bind_service; CAP_SYS_TIME stays out of reach under capsh), which
both must not. All runs are one-shot settings (/RUNONCE, which starts the
window system; /QUERY starts none) from a Daytime server nobody listens on,
so that they are refused at once, set nothing and end by themselves with
status 1 after showing the outcome for five seconds.
"""
import glob
import grp
import os
import pwd
import resource
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from daytime_server import check  # noqa: E402
from e2e import WINDOW_PART, Skip, cases, copy_program, main  # noqa: E402
from test_addresses import Block  # noqa: E402

RUN_TIMEOUT_S = 60
# Nothing listens there: a trust file is read before anything is asked.
SILENT = Block("sanity").at(7)

# (what, arguments, variables); {platforms}, {plugins} and {module} stand for
# the user's folders and the module's path.
HEADLESS_ROWS = [
    ("Qt's platform options on the command line",
     ["-platformpluginpath", "{platforms}", "-platform", "tempikonmarker"], {}),
    ("the platform and plugin path variables", [],
     {"QT_QPA_PLATFORM": "tempikonmarker", "QT_QPA_PLATFORM_PLUGIN_PATH": "{platforms}",
      "QT_PLUGIN_PATH": "{plugins}"}),
    ("a list of platforms to try, from the plugin path", [],
     {"QT_QPA_PLATFORM": "tempikonmarker;offscreen", "QT_PLUGIN_PATH": "{plugins}"}),
    ("a platform theme by argument and variable", ["-platformtheme", "tempikonmarker"],
     {"QT_QPA_PLATFORMTHEME": "tempikonmarker", "QT_PLUGIN_PATH": "{plugins}"}),
]
DESKTOP_ROWS = [
    ("GTK's modules in the settings of a GNOME session", [], {"XDG_CURRENT_DESKTOP": "GNOME"}),
    ("GTK's module variables", [],
     {"XDG_CURRENT_DESKTOP": "GNOME", "GTK_MODULES": "{module}", "GTK3_MODULES": "{module}"}),
    ("the desktop's name as a theme", [],
     {"XDG_CURRENT_DESKTOP": "tempikonmarker", "QT_PLUGIN_PATH": "{plugins}"}),
    ("Qt's platform options on the command line, on a display",
     ["-platformpluginpath", "{platforms}", "-platform", "tempikonmarker"], {}),
]


class Setup:
    """The copies in a folder only root may change, and the user's folder
    (writable by nobody) with the plugins, the module and GTK's settings."""

    def __init__(self, opts, tmp):
        self.user = pwd.getpwnam("nobody")
        os.chmod(tmp, 0o755)
        bin_dir = os.path.join(tmp, "bin")
        os.makedirs(bin_dir)
        self.copies = {}
        plain = os.path.join(bin_dir, "tempikon-plain")
        copy_program(opts.program, plain)
        os.chmod(plain, 0o755)
        self.copies["plain"] = plain

        group = next((g.gr_gid for g in grp.getgrall() if g.gr_name in ("users", "daemon")), 1)
        check(self.user.pw_gid != group, "the setgid copy's group is not the user's")
        setgid = os.path.join(bin_dir, "tempikon-setgid")
        copy_program(opts.program, setgid)
        os.chown(setgid, 0, group)
        os.chmod(setgid, 0o2755)
        self.copies["setgid"] = setgid
        self.group = group

        setcap = os.path.join(bin_dir, "tempikon-setcap")
        copy_program(opts.program, setcap)
        os.chmod(setcap, 0o755)
        r = subprocess.run(["setcap", "cap_net_bind_service+ep", setcap],
                           capture_output=True, text=True)
        if r.returncode == 0:
            self.copies["setcap"] = setcap
        else:
            print(f"note: no file capabilities here ({r.stderr.strip()}); setgid copy only")

        self.home = os.path.join(tmp, "user")
        plugins = os.path.join(self.home, "plugins")
        self.places = {"plugins": plugins, "platforms": os.path.join(plugins, "platforms"),
                       "module": os.path.join(self.home, "gtk", "libtempikonmarker.so")}
        for folder, plugin in (("platforms", opts.platform_plugin),
                               ("platformthemes", opts.theme_plugin)):
            os.makedirs(os.path.join(plugins, folder))
            shutil.copy(plugin, os.path.join(plugins, folder, "libtempikonmarker.so"))
        os.makedirs(os.path.dirname(self.places["module"]))
        shutil.copy(opts.platform_plugin, self.places["module"])
        # GTK reads its settings from the user's configuration folder, named
        # by XDG_CONFIG_HOME or found in the home folder.
        self.config = os.path.join(self.home, "config")
        for folder in (self.config, os.path.join(self.home, ".config")):
            os.makedirs(os.path.join(folder, "gtk-3.0"))
            with open(os.path.join(folder, "gtk-3.0", "settings.ini"), "w") as f:
                f.write(f"[Settings]\ngtk-modules={self.places['module']}\n")
        # A server nobody is asked: its protocol is unknown.
        os.makedirs(os.path.join(self.config, "Tempikon"))
        with open(os.path.join(self.config, "Tempikon", "Tempikon.conf"), "w") as f:
            f.write(f"[CONFIG]\nServer={SILENT}\nTimeout=1\n")
        for root, dirs, _ in os.walk(self.home):
            os.chmod(root, 0o777)
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o777)

    def markers(self):
        return sorted(glob.glob(os.path.join(self.home, "**", "*.loaded"), recursive=True))

    def clear_markers(self):
        for marker in self.markers():
            os.remove(marker)

    def run(self, copy, args, variables, display=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
               "XDG_CONFIG_HOME": self.config, "XDG_STATE_HOME": self.config,
               "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent/tempikon-e2e"}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if display:
            env["DISPLAY"] = display
        env.update({k: v.format(**self.places) for k, v in variables.items()})
        args = [a.format(**self.places) for a in args]
        cmd = ["capsh", "--drop=cap_sys_time", "--", "-c", 'exec "$@"', "tempikon",
               "setpriv", f"--reuid={self.user.pw_uid}", f"--regid={self.user.pw_gid}",
               "--clear-groups", self.copies[copy]] + args + ["/RUNONCE"]
        # A plain copy that loads the test's plugin as its platform aborts.
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # noqa: E731
        return subprocess.run(cmd, env=env, cwd=self.home, capture_output=True, text=True,
                              timeout=RUN_TIMEOUT_S, preexec_fn=no_core)


def check_rows(setup, rows, display=None):
    for what, args, variables in rows:
        setup.clear_markers()
        r = setup.run("plain", args, variables, display)
        check(setup.markers() != [],
              f"{what}: the plain copy loaded the test's code (else the row proves nothing)", r)
        for copy in sorted(c for c in setup.copies if c != "plain"):
            setup.clear_markers()
            r = setup.run(copy, args, variables, display)
            check(setup.markers() == [],
                  f"{what}: the {copy} copy loaded nothing of the user's, "
                  f"got {setup.markers()}", r)
            check(r.returncode == 1 and "connection refused" in r.stderr,
                  f"{what}: the {copy} copy ran and asked nobody", r)


def case_headless(opts, tmp):
    check_rows(Setup(opts, tmp), HEADLESS_ROWS)


def case_desktop(opts, tmp):
    if shutil.which("Xvfb") is None:
        raise Skip("Xvfb is missing")
    setup = Setup(opts, tmp)
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen",
                             "0", "800x600x24"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read) as f:
            number = f.readline().strip()
        check(number != "", "Xvfb gave its display number")
        check_rows(setup, DESKTOP_ROWS, ":" + number)
    finally:
        xvfb.terminate()
        xvfb.wait()


def case_trust_file(opts, tmp):
    setup = Setup(opts, tmp)
    # Outside the user's folder: one file the setgid copy's group alone may
    # read, one anybody may. Neither holds a certificate.
    secret = os.path.join(tmp, "group-only.pem")
    public = os.path.join(tmp, "public.pem")
    for path, mode in ((secret, 0o640), (public, 0o644)):
        with open(path, "w") as f:
            f.write("not a certificate\n")
        os.chown(path, 0, setup.group)
        os.chmod(path, mode)
    folder = os.path.join(setup.config, "Tempikon")
    for path, refusal in ((secret, f"cannot read the trusted certificates {secret}: "
                                   "Permission denied"),
                          (public, f"the file of trusted certificates {public} holds no "
                                   "certificate")):
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "Tempikon.conf"), "w") as f:
            f.write(f"[CONFIG]\nServer={SILENT}\nProtocol=NTS\nTimeout=2\n"
                    f"TrustedCertificates={path}\n")
        for copy in sorted(setup.copies):
            r = setup.run(copy, [], {"QT_QPA_PLATFORM": "offscreen"})
            check(refusal in r.stderr, f"the {copy} copy says: {refusal}", r)
            check(r.returncode == 1, f"the {copy} copy found no time", r)


def case_window_part(opts, tmp):
    """Copies in a folder the user may write, beside a window part of the
    user's (the test's plugin, which has no entry): the plain copy loads it,
    a privileged one must not, and says why."""
    setup = Setup(opts, tmp)
    folder = os.path.join(setup.home, "bin")
    os.makedirs(folder)
    os.chmod(folder, 0o777)
    part = os.path.join(folder, WINDOW_PART)
    shutil.copy(opts.platform_plugin, part)
    os.chown(part, setup.user.pw_uid, setup.user.pw_gid)
    for copy in list(setup.copies):
        moved = os.path.join(folder, os.path.basename(setup.copies[copy]))
        shutil.copy2(setup.copies[copy], moved)
        if copy == "setgid":
            os.chown(moved, 0, setup.group)
            os.chmod(moved, 0o2755)
        elif copy == "setcap":
            subprocess.run(["setcap", "cap_net_bind_service+ep", moved], check=True)
        setup.copies[copy] = moved
    marker = part + ".loaded"
    r = setup.run("plain", [], {"QT_QPA_PLATFORM": "offscreen"})
    check(os.path.exists(marker), "the plain copy loaded the user's window part "
          "(else the case proves nothing)", r)
    check(r.returncode == 127 and "no tempikon_window_main" in r.stderr,
          "the plain copy said the part has no entry", r)
    os.remove(marker)
    for copy in sorted(c for c in setup.copies if c != "plain"):
        r = setup.run(copy, [], {"QT_QPA_PLATFORM": "offscreen"})
        check(not os.path.exists(marker), f"the {copy} copy did not load the user's part", r)
        check(r.returncode == 127 and f"{part}: not a file of root's" in r.stderr,
              f"the {copy} copy says why it did not load it", r)


if __name__ == "__main__":
    sys.exit(main(cases(globals()), "tempikon-secure-", "--platform-plugin", "--theme-plugin"))
