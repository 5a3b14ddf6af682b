#!/usr/bin/env python3
"""Crash soak: the real service against simulated scales that go down and up,
with goods files arriving all the time and the service killed with SIGKILL
at random moments and restarted.  At the end it checks what a shop relies
on:

  - every file was received completely by every listed scale, or is parked
    for it, or is still waiting in the export directory;
  - no scale holds an older file's prices after a newer one it received,
    unless that newer file is still coming to it;
  - no scale ever received an older file's prices after a newer file's,
    counted over every reception of the run, redeliveries after a kill
    included;
  - no delivery log line says 0 for a scale that did not receive the file,
    and every line is whole;
  - the store passes PRAGMA integrity_check;
  - once the service has run again, no hidden temporary file is left.

Then it lets the service drain everything with all scales up and checks
that every scale received every file and holds the newest prices.

Everything runs in a network namespace of its own (scripts/netns-run);
the scales live at 127.0.0.n.  The schedule number is printed first: the
same number replays the same schedule of drops, kills and scale outages.

  tools/soak/soak.py --kills 20              # the short run CI does
  tools/soak/soak.py --minutes 60            # an hour
  tools/soak/soak.py --schedule 12345 --kills 20 # replay
"""

import argparse
import json
import os
import random
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRODUCT_KEY = r"HKCU\SOFTWARE\Orvane Group\Tovalin+"
GOODS_PORT_BASE = 3000
GOODS_NUMBERS = (11, 12, 13)
PREFIX = "127.0.0."
IN_NETNS = "TOVALINK_SOAK_IN_NETNS"


def read_text(path):
    with open(path, errors="replace") as f:
        return f.read()


def log(message):
    print("soak: " + message, flush=True)


def wait_until(predicate, timeout, step=0.05):
    """Polls `predicate` until it holds or `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


# ---------------------------------------------------------------- files


def file_name(k):
    return "p%06d.txt" % k


def price_cents(k):
    # Unique per file, so a price on a scale names the file it came from.
    return 100 + k


def goods_file(k):
    """Deletes a marker goods number unique to file k (so the file's frames
    can be found on a scale), then the goods at the file's price, then the
    clock."""
    lines = ["D%08d" % (90000000 + k)]
    price = "%08.2f" % (price_cents(k) / 100.0)
    for g in GOODS_NUMBERS:
        a = "A200123400000" + "%015d" % g + "0000" + "0000" + "00" + price + "005" + "0000" + "Soak %d" % g
        lines.append(a.ljust(133))
    lines.append("T202403050907")
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


# A parked copy's name ends with the file's base name, the scale number in
# three digits and the extension, after a braced unique prefix.
PARKED = re.compile(r"^\{.*\}p(\d{6})(\d{3})\.txt$")
COMMON = re.compile(r"^p(\d{6})\.txt$")


def file_of_logged_name(name):
    """(file number, scale number or None) of a name the log or Unsent shows."""
    m = PARKED.match(name)
    if m:
        return int(m.group(1)), int(m.group(2))
    m = COMMON.match(name)
    if m:
        return int(m.group(1)), None
    return None, None


# ---------------------------------------------------------------- processes


class Site:
    def __init__(self, args, home):
        self.args = args
        self.home = home
        self.tovalink = os.path.join(args.build, "tovalink")
        self.scalesim = os.path.join(args.build, "tools", "scalesim", "tovalink-scalesim")
        self.export_dir = os.path.join(home, "export")
        self.unsent_dir = os.path.join(self.export_dir, "Unsent")
        self.log_dir = os.path.join(home, "log")
        self.sim_dir = os.path.join(home, "scales")
        self.env = dict(os.environ, TOVALINK_HOME=home, LANG="C", LC_ALL="C")
        self.env.pop("TOVALINK_TEST_FAULTS", None)
        self.service = None
        self.service_runs = 0
        self.sims = {}  # scale number -> Popen while the scale is up
        self.problems = []
        self.sim_runs = {n: 0 for n in args.scale_numbers}

    # The store is configured through the product's own commands before the
    # service ever runs, so no cycle can see the default address prefix.
    def configure(self):
        def reg_add(name, kind, data):
            self.run_cli(["reg", "add", PRODUCT_KEY, "/v", name, "/t", kind, "/d", str(data), "/f"])

        reg_add("IPAdress", "REG_SZ", PREFIX)
        reg_add("SocketPort", "REG_DWORD", GOODS_PORT_BASE)
        reg_add("VerInterval", "REG_DWORD", 1)
        reg_add("ExportDir", "REG_SZ", self.export_dir)
        reg_add("LogoDir", "REG_SZ", self.log_dir)
        self.run_cli(["scale", "remove", "91"])
        for n in self.args.scale_numbers:
            self.run_cli(["scale", "add", str(n), "--type", "Bench"])
        shown = self.run_cli(["reg", "query", PRODUCT_KEY, "/v", "IPAdress"])
        if PREFIX not in shown:
            raise SystemExit("soak: IPAdress is not %s after configuring:\n%s" % (PREFIX, shown))
        listed = json.loads(self.run_cli(["scale", "list", "--json"]))
        expected = [(n, PREFIX + str(n)) for n in self.args.scale_numbers]
        if sorted((s["scale"], s["address"]) for s in listed) != expected:
            raise SystemExit("soak: the scale list is %s, not %s" % (listed, expected))
        os.makedirs(self.export_dir, exist_ok=True)
        os.makedirs(self.sim_dir, exist_ok=True)

    def run_cli(self, argv):
        r = subprocess.run([self.tovalink] + argv, env=self.env, capture_output=True, text=True)
        if r.returncode != 0:
            raise SystemExit("soak: tovalink %s failed: %s%s" % (" ".join(argv), r.stdout, r.stderr))
        return r.stdout

    def start_service(self):
        self.service_runs += 1
        out = open(os.path.join(self.home, "service.%03d.log" % self.service_runs), "wb")
        self.service = subprocess.Popen([self.tovalink], env=self.env, stdout=out, stderr=subprocess.STDOUT)
        out.close()

    def kill_service(self):
        # A service that is already gone ended by itself: a crash of its own.
        code = self.service.poll()
        if code is not None:
            self.problems.append("the service ended by itself with %s (service.%03d.log)" % (code, self.service_runs))
        else:
            self.service.send_signal(signal.SIGKILL)
            self.service.wait()
        self.service = None

    def stop_service(self, timeout):
        self.service.send_signal(signal.SIGTERM)
        try:
            code = self.service.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill_service()
            return None
        self.service = None
        return code

    def start_scale(self, n):
        self.sim_runs[n] += 1
        out = os.path.join(self.sim_dir, "%03d.%04d.jsonl" % (n, self.sim_runs[n]))
        errors = os.path.join(self.sim_dir, "%03d.%04d.err" % (n, self.sim_runs[n]))
        argv = [self.scalesim, "--scales", str(n), "--prefix", PREFIX, "--port-base", str(GOODS_PORT_BASE),
                "--out", out]
        if self.args.answer_delay_ms > 0:
            argv += ["--delay", "%d=%d" % (n, self.args.answer_delay_ms)]
        with open(errors, "wb") as err:
            sim = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=err)
        # Listening once it says so.
        listening = lambda: "scale %d at" % n in read_text(errors)
        if not wait_until(lambda: listening() or sim.poll() is not None, 10) or not listening():
            if sim.poll() is None:
                sim.kill()
                sim.wait()
            raise SystemExit("soak: scale %d did not start: %s" % (n, read_text(errors)))
        self.sims[n] = sim

    def stop_scale(self, n):
        sim = self.sims.pop(n)
        sim.send_signal(signal.SIGKILL)
        sim.wait()

    def stop_all(self):
        if self.service is not None:
            self.kill_service()
        for n in list(self.sims):
            self.stop_scale(n)

    def drop(self, k):
        # Written under a hidden name and renamed, as a back office should.
        hidden = os.path.join(self.export_dir, "." + file_name(k) + ".writing")
        with open(hidden, "wb") as f:
            f.write(goods_file(k))
            f.flush()
            os.fsync(f.fileno())
        os.rename(hidden, os.path.join(self.export_dir, file_name(k)))

    def visible(self, directory):
        try:
            return sorted(e.name for e in os.scandir(directory) if e.is_file() and not e.name.startswith("."))
        except FileNotFoundError:
            return []

    def hidden(self):
        found = []
        for d in (self.export_dir, self.unsent_dir):
            try:
                found += [os.path.join(d, e.name) for e in os.scandir(d) if e.name.startswith(".")]
            except FileNotFoundError:
                pass
        return found


# ---------------------------------------------------------------- what the scales got


def read_frames(site, n):
    """Every goods-port frame scale n recorded, over all its runs in order.
    A run killed mid-line leaves a torn last line, which is skipped."""
    frames = []
    for run in range(1, site.sim_runs[n] + 1):
        path = os.path.join(site.sim_dir, "%03d.%04d.jsonl" % (n, run))
        try:
            text = open(path).read()
        except FileNotFoundError:
            continue
        for line in text.splitlines():
            try:
                frames.append(json.loads(line))
            except ValueError:
                pass
    return frames


def bcd_number(value):
    if isinstance(value, int):
        return value
    if isinstance(value, str) and value.isdigit():
        return int(value)
    return None


def price_file(frame):
    """The file whose price a goods frame carries, or None."""
    price = frame.get("price")
    if not isinstance(price, str):
        return None
    cents = int(round(float(price) * 100))
    return cents - 100 if cents > 100 else None


class ScaleView:
    """What one scale received, as deliveries in arrival order: each starts
    with a file's marker deletion and is whole when the file's goods records,
    at its price, and then the clock follow, each acknowledged."""

    def __init__(self, frames):
        self.runs = []  # [file, acknowledged frames after the marker]
        for f in frames:
            if f.get("answer") != "06":
                continue
            marker = bcd_number(f.get("goods")) if f.get("kind") == "delete" else None
            if marker is not None and marker >= 90000000:
                self.runs.append([marker - 90000000, []])
            elif self.runs:
                self.runs[-1][1].append(f)
        self.complete = {k for k, body in self.runs if self.whole(k, body)}
        self.holds = {}  # goods number -> the file its price last came from
        for _, body in self.runs:
            for f in body:
                if f.get("kind") == "goods" and bcd_number(f.get("goods")) in GOODS_NUMBERS:
                    self.holds[bcd_number(f.get("goods"))] = price_file(f)

    @staticmethod
    def whole(k, body):
        goods = body[:-1]
        return (len(body) == len(GOODS_NUMBERS) + 1 and body[-1].get("kind") == "clock"
                and all(x.get("kind") == "goods" and price_file(x) == k for x in goods)
                and sorted(bcd_number(x.get("goods")) for x in goods) == list(GOODS_NUMBERS))

    def older_after_newer(self):
        """(older, newer) for every delivery that brought a file's prices
        after a newer file's prices had been acknowledged, whatever came
        later: a shop sees the older price meanwhile."""
        out, newest = [], 0
        for k, body in self.runs:
            if not any(f.get("kind") == "goods" for f in body):
                continue
            if k < newest:
                out.append((k, newest))
            newest = max(newest, k)
        return out

    def order_breaks(self):
        """(older, newer) pairs where the older file's prices arrived after
        the newer file had arrived whole, and the newer never came again: a
        redelivery after a crash repeats the newer file too, a file
        delivered out of order does not."""
        last_whole = {}
        for i, (k, body) in enumerate(self.runs):
            if self.whole(k, body):
                last_whole[k] = i
        breaks, seen_whole, newest = [], set(), 0
        for i, (k, body) in enumerate(self.runs):
            if any(f.get("kind") == "goods" for f in body):
                breaks += [(k, j) for j in range(k + 1, newest + 1) if j in seen_whole and last_whole[j] < i]
            if self.whole(k, body):
                seen_whole.add(k)
                newest = max(newest, k)
        return breaks


# ---------------------------------------------------------------- checks


LOG_LINE = re.compile(r"^[0-9./-]+,[0-9:]+,(127\.0\.0\.(\d+))?,(\d+),([^,]+)$")


class Checker:
    def __init__(self, site, dropped):
        self.site = site
        self.dropped = dropped
        self.failures = []

    def fail(self, message):
        self.failures.append(message)

    def take_problems(self):
        for p in self.site.problems:
            self.fail(p)
        self.site.problems = []

    def state(self):
        views = {n: ScaleView(read_frames(self.site, n)) for n in self.site.args.scale_numbers}
        waiting = {file_of_logged_name(x)[0] for x in self.site.visible(self.site.export_dir)}
        parked = {n: set() for n in self.site.args.scale_numbers}
        for name in self.site.visible(self.site.unsent_dir):
            k, n = file_of_logged_name(name)
            if k is None or n not in parked:
                self.fail("unexpected file in Unsent: %s" % name)
            else:
                parked[n].add(k)
        return views, waiting, parked

    def nothing_lost(self, views, waiting, parked):
        for k in self.dropped:
            for n, view in views.items():
                if k not in view.complete and k not in parked[n] and k not in waiting:
                    self.fail("%s: scale %d neither received it, nor has it parked, nor is it waiting"
                              % (file_name(k), n))

    def order_kept(self, views, waiting, parked):
        for n, view in views.items():
            for g, k in sorted(view.holds.items()):
                if k is None:
                    self.fail("scale %d holds goods %d at a price of no dropped file" % (n, g))
                    continue
                newer = [j for j in view.complete if j > k and j not in waiting and j not in parked[n]]
                if newer:
                    self.fail("scale %d holds goods %d at the price of %s after it received %s, "
                              "which is not coming again" % (n, g, file_name(k), file_name(max(newer))))

    def never_older_after_newer(self, views):
        for n, view in views.items():
            late = view.older_after_newer()
            if late:
                k, j = late[0]
                self.fail("scale %d received an older file's prices after a newer one's %d times, first %s after %s"
                          % (n, len(late), file_name(k), file_name(j)))

    def log_honest(self, views):
        path = os.path.join(self.site.log_dir, "sclogo.csv")
        try:
            data = open(path, "rb").read()
        except FileNotFoundError:
            data = b""
        if data and not data.endswith(b"\r\n"):
            self.fail("the delivery log ends inside a line")
        for raw in data.split(b"\r\n"):
            if not raw:
                continue
            line = raw.decode("latin-1")
            m = LOG_LINE.match(line)
            k = file_of_logged_name(m.group(4))[0] if m else None
            if k is None:
                self.fail("torn or malformed log line: %r" % line)
                continue
            if int(m.group(3)) != 0:
                continue
            if m.group(2) is None:
                self.fail("log line claims a delivery to no scale: %r" % line)
                continue
            n = int(m.group(2))
            if n not in views or k not in views[n].complete:
                self.fail("log line says 0 but scale %s did not receive %s: %r" % (m.group(2), file_name(k), line))

    def log_counts(self):
        try:
            lines = [x for x in open(os.path.join(self.site.log_dir, "sclogo.csv"), "rb").read().split(b"\r\n") if x]
        except FileNotFoundError:
            lines = []
        return len(lines), sum(1 for x in lines if not x.split(b",")[3:4] == [b"0"])

    def store_sound(self):
        try:
            db = sqlite3.connect(os.path.join(self.site.home, "registry.db"))
            result = db.execute("PRAGMA integrity_check").fetchall()
            db.close()
        except sqlite3.Error as e:
            result = [("error: %s" % e,)]
        if result != [("ok",)]:
            self.fail("store integrity_check: %s" % result)

    def after_crash(self):
        """With the service just killed: the invariant holds on disk as it is."""
        self.take_problems()
        views, waiting, parked = self.state()
        self.nothing_lost(views, waiting, parked)
        self.order_kept(views, waiting, parked)
        self.never_older_after_newer(views)
        self.log_honest(views)
        self.store_sound()
        return views, waiting, parked

    def after_drain(self):
        views, waiting, parked = self.after_crash()
        for n, view in views.items():
            for k, j in view.order_breaks()[:3]:
                self.fail("scale %d received %s after %s, which it never received again"
                          % (n, file_name(k), file_name(j)))
        left = sorted(self.site.hidden())
        if left:
            self.fail("hidden files left after a clean run: %s" % ", ".join(left))
        newest = max(self.dropped)
        for n, view in views.items():
            missing = [k for k in self.dropped if k not in view.complete]
            if missing:
                self.fail("scale %d never received %d files, e.g. %s" % (n, len(missing), file_name(missing[0])))
            for g in GOODS_NUMBERS:
                if view.holds.get(g) != newest:
                    held = view.holds.get(g)
                    self.fail("scale %d ends with goods %d at the price of %s, not of the newest %s"
                              % (n, g, file_name(held) if held else "nothing", file_name(newest)))


# ---------------------------------------------------------------- the run


def soak(args, home):
    rng = random.Random(args.schedule)
    site = Site(args, home)
    site.configure()
    for n in args.scale_numbers:
        site.start_scale(n)
    site.start_service()
    dropped, kills = [], 0
    start = time.monotonic()
    now = start
    next_drop = now + rng.uniform(0, args.drop_every)
    next_kill = now + rng.uniform(0.3, args.kill_every * 2)
    next_toggle = now + rng.uniform(0, args.toggle_every * 2)

    def done():
        if args.minutes:
            return time.monotonic() - start >= args.minutes * 60
        return kills >= args.kills

    try:
        while not done():
            time.sleep(max(0.0, min(next_drop, next_kill, next_toggle) - time.monotonic()))
            now = time.monotonic()
            if now >= next_drop:
                dropped.append(len(dropped) + 1)
                site.drop(dropped[-1])
                next_drop = now + rng.uniform(0.2, args.drop_every * 2)
            if now >= next_toggle:
                n = rng.choice(args.scale_numbers)
                if n in site.sims:
                    site.stop_scale(n)
                else:
                    site.start_scale(n)
                next_toggle = now + rng.uniform(0.2, args.toggle_every * 2)
            if now >= next_kill:
                site.kill_service()
                kills += 1
                if kills % 10 == 0 or args.verbose:
                    late = sum(len(ScaleView(read_frames(site, n)).older_after_newer()) for n in args.scale_numbers)
                    log("%d kills, %d files dropped, scales up: %s, older-after-newer receptions so far: %d"
                        % (kills, len(dropped), sorted(site.sims), late))
                if not done():
                    site.start_service()
                next_kill = time.monotonic() + rng.uniform(0.3, args.kill_every * 2)
        if site.service is not None:
            site.kill_service()
            kills += 1
        log("%d kills, %d files dropped in %.0f s; checking the state the last kill left"
            % (kills, len(dropped), time.monotonic() - start))
        checker = Checker(site, dropped)
        checker.after_crash()
        crash_failures = len(checker.failures)
        log("the last kill left %d files waiting, %d parked, %d hidden; the log has %d lines, %d of them failures"
            % (len(site.visible(site.export_dir)), len(site.visible(site.unsent_dir)), len(site.hidden()),
               *checker.log_counts()))
        log("draining with every scale up")
        for n in args.scale_numbers:
            if n not in site.sims:
                site.start_scale(n)
        site.start_service()
        # One more file, so the drain ends only after a whole cycle of the
        # restarted service, whatever the last kill left.
        dropped.append(len(dropped) + 1)
        site.drop(dropped[-1])
        drained = wait_until(lambda: not site.visible(site.export_dir) and not site.visible(site.unsent_dir),
                             args.drain_timeout, step=0.2)
        code = site.stop_service(60)
        if not drained:
            checker.fail("not drained in %d s: waiting %s, parked %s" % (
                args.drain_timeout, site.visible(site.export_dir)[:5], site.visible(site.unsent_dir)[:5]))
        if code != 0:
            checker.fail("the service did not stop cleanly (exit %s)" % code)
        checker.after_drain()
        return checker.failures, crash_failures
    finally:
        site.stop_all()


def parse_args():
    p = argparse.ArgumentParser(description="Crash soak of the tovalink service against simulated scales.")
    p.add_argument("--schedule", type=int, default=None,
                   help="number that picks the random schedule (default: a new one, printed)")
    p.add_argument("--kills", type=int, default=20, help="SIGKILLs of the service (ignored with --minutes)")
    p.add_argument("--minutes", type=float, default=0, help="run this long instead of counting kills")
    p.add_argument("--scales", type=int, default=5, help="number of simulated scales (127.0.0.11 up)")
    p.add_argument("--drop-every", type=float, default=1.0, help="mean seconds between dropped files")
    p.add_argument("--kill-every", type=float, default=3.0, help="mean seconds between kills")
    p.add_argument("--toggle-every", type=float, default=1.5, help="mean seconds between a scale going down or up")
    # Scales that take their time, as real ones on a shop's network do, so
    # that kills land in the middle of deliveries, not only between cycles.
    p.add_argument("--answer-delay-ms", type=int, default=40, help="each scale's delay before every answer")
    p.add_argument("--drain-timeout", type=float, default=120, help="seconds the final clean run may take")
    p.add_argument("--build", default=os.path.join(ROOT, "build"), help="build directory")
    p.add_argument("--keep", action="store_true", help="keep the state directory even when all is well")
    p.add_argument("--verbose", action="store_true")
    args = p.parse_args()
    if args.schedule is None:
        args.schedule = random.SystemRandom().randrange(1, 2**31)
    args.build = os.path.abspath(args.build)
    args.scale_numbers = list(range(11, 11 + args.scales))
    return args


def without_schedule(argv):
    out, skip = [], False
    for a in argv:
        if skip or a.startswith("--schedule="):
            skip = False
        elif a == "--schedule":
            skip = True
        else:
            out.append(a)
    return out


def main():
    if os.environ.get(IN_NETNS) != "1":
        # Every packet stays on loopback in a namespace of its own.
        os.environ[IN_NETNS] = "1"
        netns = os.path.join(ROOT, "scripts", "netns-run")
        os.execv(netns, [netns, sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    args = parse_args()
    replay = " ".join([sys.argv[0]] + without_schedule(sys.argv[1:]) + ["--schedule", str(args.schedule)])
    log("schedule %d (replay: %s)" % (args.schedule, replay))
    for program in ("tovalink", "tools/scalesim/tovalink-scalesim"):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            raise SystemExit("soak: %s not built in %s (scripts/build)" % (program, args.build))
    home = tempfile.mkdtemp(prefix="tovalink-soak-")
    failures, crash_failures = soak(args, home)
    if failures:
        for f in failures[:40]:
            log("FAIL " + f)
        if len(failures) > 40:
            log("... and %d more" % (len(failures) - 40))
        log("%d failures (%d in the state the last kill left); state kept in %s; replay: %s"
            % (len(failures), crash_failures, home, replay))
        return 1
    log("all checks passed")
    if args.keep:
        log("state kept in %s" % home)
    else:
        shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
