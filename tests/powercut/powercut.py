#!/usr/bin/python3
"""Power cuts under the command-line program, on LazyFS.

The logging directory lives on a LazyFS mount, a FUSE file system that keeps
every write in its own cache until it is fsynced and drops what is not synced
when told to: a power cut on demand. Each cut stops the running command (an
`update` of many changed marks, a `send` of a long queue, or an `import` of
many entries) after a number of fsyncs or after a random time, drops the
unsynced data, kills the command, remounts, and checks what a user would find:

  - the data file loads;
  - no queued message file is empty, and every one names an entry of the data
    file;
  - after the next update and sending run to their end, every mark that
    changed has at least one notice in the mailbox (none lost), and the
    sending reports no failure.

usage: powercut.py --cli PATH --lazyfs PATH [--cuts N] [--entries N] [--seed S]
                   [--scenarios update,send,import] [--work DIR]

Exits 0 when every cut passed, 1 when one did not (each failure is printed),
77 when LazyFS cannot run here (no /dev/fuse, no fusermount3, no binary).
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIP = 77


def log(*parts):
    print(*parts, flush=True)


class Peer:
    """A test server started from tools/ that prints its port on its first line."""

    def __init__(self, args):
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class LazyMount:
    """The logging directory's file system: LazyFS over a backing folder."""

    def __init__(self, binary, work):
        self.binary = binary
        self.backing = os.path.join(work, "backing")
        self.point = os.path.join(work, "mnt")
        self.fifo = os.path.join(work, "faults.fifo")
        self.oplog = os.path.join(work, "lazyfs.log")
        self.config = os.path.join(work, "lazyfs.toml")
        os.makedirs(self.backing, exist_ok=True)
        os.makedirs(self.point, exist_ok=True)
        with open(self.config, "w") as f:
            f.write('[faults]\nfifo_path="%s"\n' % self.fifo)
            # a small cache: the file system sets all of it aside as it starts
            f.write('[cache]\napply_eviction=false\n[cache.simple]\ncustom_size="128mb"\nblocks_per_page=1\n')
            f.write('[filesystem]\nlog_all_operations=true\nlogfile="%s"\n' % self.oplog)
        self.proc = None
        self.log_offset = 0
        self.fsync_count = 0
        self.clear_count = 0

    def mount(self):
        if os.path.exists(self.fifo):
            os.unlink(self.fifo)
        open(self.oplog, "w").close()
        self.log_offset = 0
        errors = os.path.join(os.path.dirname(self.point), "lazyfs.err")
        # a file system that ends as it starts (the mount point still busy from the last unmount) is started again
        for attempt in range(3):
            with open(errors, "w") as err:
                self.proc = subprocess.Popen(
                    [self.binary, self.point, "--config-path", self.config, "-o", "modules=subdir",
                     "-o", "subdir=" + self.backing, "-f"], stdout=subprocess.DEVNULL, stderr=err)
            for _ in range(200):
                if os.path.ismount(self.point) and os.path.exists(self.fifo):
                    return
                if self.proc.poll() is not None:
                    break
                time.sleep(0.05)
            else:
                raise RuntimeError("lazyfs did not mount")
            subprocess.run(["fusermount3", "-u", "-z", self.point], stderr=subprocess.DEVNULL)
            time.sleep(0.5 * (attempt + 1))
        with open(errors, errors="replace") as err:
            raise RuntimeError("lazyfs ended at once: " + err.read()[-2000:])

    def fsyncs(self):
        """How many fsyncs the file system has served (and how many cuts it made) since it was first mounted."""
        with open(self.oplog, "rb") as f:
            f.seek(self.log_offset)
            chunk = f.read()
        whole = chunk.rfind(b"\n") + 1
        self.log_offset += whole
        self.fsync_count += chunk.count(b"lfs_fsync(", 0, whole)
        self.clear_count += chunk.count(b"cache is cleared", 0, whole)
        return self.fsync_count

    def cut(self):
        """Drops every write not yet synced, as a power cut does."""
        self.fsyncs()
        cleared = self.clear_count
        with open(self.fifo, "w") as f:
            f.write("lazyfs::clear-cache\n")
        for _ in range(600):
            self.fsyncs()
            if self.clear_count > cleared:
                return
            time.sleep(0.05)
        raise RuntimeError("lazyfs did not clear its cache")

    def unmount(self):
        if self.proc is None:
            return
        subprocess.run(["fusermount3", "-u", "-z", self.point], stderr=subprocess.DEVNULL)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc = None

    def settle(self):
        """Makes everything durable, as a clean shutdown would, before a step that is not cut."""
        for folder, _, names in os.walk(self.point):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    fd = os.open(path, os.O_RDONLY)
                    os.fsync(fd)
                    os.close(fd)


class Rig:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.cli = args.cli
        self.fs = LazyMount(args.lazyfs, work)
        self.mail = os.path.join(work, "mail")
        os.makedirs(self.mail, exist_ok=True)
        self.settings = os.path.join(work, "settings.ini")
        self.office = Peer(["/usr/bin/python3", os.path.join(ROOT, "tools/office_simulator.py"), "serve",
                            "--port", "0", "--size", str(args.entries), "--seed", "3", "--day", "30",
                            "--rules-version", "4.2.07.000"])
        self.sink = Peer(["/usr/bin/python3", os.path.join(ROOT, "tools/smtp_sink.py"), "--port", "0",
                          "--dir", self.mail])
        self.base = "http://127.0.0.1:%d" % self.office.port
        self.day = 30
        self.log_dir = os.path.join(self.fs.point, "log")
        self.imported = 0
        self.duplicates = 0 # changed marks mailed more than once: a cut brought sent messages back

    def control(self, path):
        urllib.request.urlopen(self.base + path, timeout=10).read()

    def run(self, *command, timeout=600):
        return subprocess.run([self.cli, "--settings", self.settings, *command], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace",
                              timeout=timeout)

    def setup(self):
        self.fs.mount()
        os.makedirs(os.path.join(self.log_dir, "Tarnwick"), exist_ok=True)
        for name, value in [("LogDir", self.log_dir), ("ReturnAddress", "me@example.test"),
                            ("NotifyAddress", "n1@example.test"), ("SmtpServer", "127.0.0.1:%d" % self.sink.port),
                            ("SmtpSecurity", "none"), ("SendAfterUpdate", "0"), ("SendUsageReports", "0"),
                            ("RequestInterval", "0")]:
            r = self.run("config", "set", name, value)
            if r.returncode != 0:
                raise RuntimeError("config set %s: %s" % (name, r.stdout))
        rules = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "tools/office_simulator.py"), "rules",
                                "--base", self.base, "--version", "4.2.07.000"], check=True, capture_output=True)
        with open(os.path.join(self.log_dir, "Tarnwick/rules.txt"), "wb") as f:
            f.write(rules.stdout)
        with open(os.path.join(self.log_dir, "tradmark.dat"), "wb") as f:
            f.write(b"8\r\n")
            for i in range(self.args.entries):
                s = "%08d" % (75000001 + i)
                f.write(("\t".join(["0", "B%04d" % i, s[:2] + "-" + s[2:]] + [""] * 15 + ["0"]) + "\r\n").encode())
        self.control("/sim/churn?mode=all")
        self.must(self.run("update", "--yes"), "first update")
        self.must(self.run("send"), "first send")
        self.clear_mail()
        self.fs.settle()

    def must(self, result, what):
        if result.returncode != 0:
            raise RuntimeError("%s failed (%d):\n%s" % (what, result.returncode, result.stdout[-800:]))

    def clear_mail(self):
        for name in os.listdir(self.mail):
            os.unlink(os.path.join(self.mail, name))

    def mail_counts(self, serials):
        """How many messages in the mailbox name each mark of `serials`, by serial or by registration number."""
        regnums = self.regnums()
        counts = dict.fromkeys(serials, 0)
        for name in os.listdir(self.mail):
            with open(os.path.join(self.mail, name), "rb") as f:
                tokens = {t.decode() for t in re.findall(rb"[0-9][0-9-]*[0-9]", f.read())}
            for s in serials:
                if s in tokens or (regnums.get(s) and regnums[s] in tokens):
                    counts[s] += 1
        return counts

    # -- what the data file and the queue hold

    def entries(self):
        """serial -> the entry's values that a change moves (dates of update and change and the error left out)"""
        out = {}
        try:
            with open(os.path.join(self.log_dir, "tradmark.dat"), "rb") as f:
                lines = f.read().decode("latin-1").split("\r\n")
        except FileNotFoundError:
            return out
        for line in lines[1:]:
            cols = line.split("\t")
            if len(cols) >= 19:
                out[cols[2]] = tuple(c for i, c in enumerate(cols) if i not in (12, 17, 18))
        return out

    def regnums(self):
        """serial -> registration number (empty while the mark is not registered)"""
        out = {}
        try:
            with open(os.path.join(self.log_dir, "tradmark.dat"), "rb") as f:
                text = f.read().decode("latin-1")
        except FileNotFoundError:
            return out
        for line in text.split("\r\n")[1:]:
            cols = line.split("\t")
            if len(cols) >= 4:
                out[cols[2]] = cols[3]
        return out

    def queued(self):
        """name -> bytes of every message file of the queue's form"""
        out = {}
        for name in os.listdir(self.log_dir):
            if re.fullmatch(r"Tarnwick_[acds][A-Za-z0-9_-]*\.tmp", name) and not name.startswith("Tarnwick_activity"):
                with open(os.path.join(self.log_dir, name), "rb") as f:
                    out[name] = f.read()
        return out

    def listed(self):
        path = os.path.join(self.log_dir, "Tarnwick_pending.tmp")
        if not os.path.exists(path):
            return set()
        with open(path, "rb") as f:
            return {line.decode("latin-1") for line in f.read().split(b"\r\n") if line}

    def will_send(self, name, known):
        """Whether the queue sends a message file: a listed one, or one that a cut left unlisted and the next
        start lists because the data file holds its edit (an entry added, or an import's first entry, that it holds,
        one deleted that it lacks); every other unlisted file is removed then."""
        if name in self.listed():
            return True
        m = re.fullmatch(r"Tarnwick_([adi])([0-9-]+?)(?:_\d+)?\.tmp", name)
        return bool(m) and (m.group(2) in known) == (m.group(1) != "d")

    # -- one cut

    def cut_during(self, command, by_fsyncs, budget):
        """Runs the command and cuts the power after `budget` fsyncs or `budget` seconds."""
        start_fsyncs = self.fs.fsyncs()
        proc = subprocess.Popen([self.cli, "--settings", self.settings, *command], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t0 = time.monotonic()
        while proc.poll() is None:
            if by_fsyncs and self.fs.fsyncs() - start_fsyncs >= budget:
                break
            if not by_fsyncs and time.monotonic() - t0 >= budget:
                break
            time.sleep(0.002 if not by_fsyncs else 0.01)
        ended = proc.poll() is not None
        if not ended:
            proc.send_signal(signal.SIGSTOP)
        self.fs.cut()
        proc.kill()
        proc.wait()
        self.fs.unmount()
        self.fs.mount()
        return ended

    def check_after_cut(self):
        problems = []
        r = self.run("list")
        if r.returncode != 0:
            problems.append("the data file does not load: " + r.stdout.strip()[:200])
        now = self.entries()
        known = set(now) | {r for r in self.regnums().values() if r}
        empty = []
        strays = []
        for name, body in sorted(self.queued().items()):
            if not self.will_send(name, known):
                continue
            if not body:
                empty.append(name)
            # the name carries the registration number of a registered mark, else its serial
            m = re.fullmatch(r"Tarnwick_[acdis]([0-9-]+?)(?:_\d+)?\.tmp", name)
            if m and m.group(1) not in known:
                strays.append(name)
        if strays:
            problems.append("%d message files name an entry the data file lacks: %s"
                            % (len(strays), " ".join(strays[:4])))
        if empty:
            problems.append("%d empty message files: %s" % (len(empty), " ".join(empty[:4])))
        return problems, now

    def finish_and_count_lost(self, before, sending=False):
        """Runs the update and the sending to their end; the marks that changed and were never mailed."""
        problems = []
        r = self.run("update", "--redo", "--yes")
        if r.returncode != 0:
            problems.append("update after the cut failed: " + r.stdout.strip()[-300:])
        r = self.run("send")
        if r.returncode != 0:
            problems.append("send after the cut failed: " + r.stdout.strip()[-300:])
        after = self.entries()
        counts = self.mail_counts({s for s, v in after.items() if before.get(s) != v})
        if sending:
            # a cut in an update may post a change twice (listed, then found again); in a sending it must not
            self.duplicates += sum(1 for n in counts.values() if n > 1)
        self.clear_mail()
        self.fs.settle()
        return problems, {s for s, n in counts.items() if n == 0}

    def scenario_update(self, by_fsyncs, budget):
        before = self.entries()
        self.day += 1
        self.control("/sim/day?d=%d" % self.day)
        self.cut_during(["update", "--redo", "--yes"], by_fsyncs, budget)
        problems, _ = self.check_after_cut()
        more, lost = self.finish_and_count_lost(before)
        return problems + more, lost

    def scenario_send(self, by_fsyncs, budget):
        before = self.entries()
        self.day += 1
        self.control("/sim/day?d=%d" % self.day)
        self.must(self.run("update", "--redo", "--yes"), "update before the sending")
        self.fs.settle()
        self.cut_during(["send"], by_fsyncs, budget)
        problems, _ = self.check_after_cut()
        more, lost = self.finish_and_count_lost(before, sending=True)
        return problems + more, lost

    def scenario_import(self, by_fsyncs, budget):
        before = self.entries()
        start = 76000001 + self.imported
        count = max(20, self.args.entries // 4)
        self.imported += count
        csv = os.path.join(self.work, "import.csv")
        with open(csv, "w") as f:
            f.write("Number,Reference\n")
            for i in range(count):
                s = "%08d" % (start + i)
                f.write("%s-%s,I%d\n" % (s[:2], s[2:], start + i))
        self.cut_during(["import", csv], by_fsyncs, budget)
        problems, now = self.check_after_cut()
        added = {s for s in now if s not in before}
        # an imported entry is noticed as added: its serial is in the queue or, after the sending, the mailbox
        r = self.run("send")
        if r.returncode != 0:
            problems.append("send after the cut failed: " + r.stdout.strip()[-300:])
        left = set(self.queued()) - self.listed()
        if left:
            problems.append("%d message files on no list stay after a sending: %s"
                            % (len(left), " ".join(sorted(left)[:4])))
        lost = {s for s, n in self.mail_counts(added).items() if n == 0}
        self.clear_mail()
        self.fs.settle()
        return problems, lost

    def calibrate(self, scenario):
        """The fsyncs and the seconds that one uncut run of the scenario takes."""
        if scenario not in ("update", "send"):
            return 200, 2.0
        self.day += 1
        self.control("/sim/day?d=%d" % self.day)
        if scenario == "send":
            self.must(self.run("update", "--redo", "--yes"), "update before the calibration")
        f0 = self.fs.fsyncs()
        t0 = time.monotonic()
        if scenario == "update":
            self.must(self.run("update", "--redo", "--yes"), "calibration update")
        else:
            self.must(self.run("send"), "calibration send")
        seconds = time.monotonic() - t0
        fsyncs = self.fs.fsyncs() - f0
        if scenario == "update":
            self.must(self.run("send"), "send after calibration")
        self.clear_mail()
        self.fs.settle()
        return max(fsyncs, 4), max(seconds, 0.2)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--lazyfs", required=True)
    ap.add_argument("--cuts", type=int, default=6)
    ap.add_argument("--entries", type=int, default=200)
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--scenarios", default="update,send,import")
    ap.add_argument("--work")
    args = ap.parse_args()

    if not os.path.exists("/dev/fuse") or shutil.which("fusermount3") is None:
        log("powercut: no /dev/fuse or fusermount3 here; skipped")
        return SKIP
    if not os.access(args.lazyfs, os.X_OK):
        log("powercut: no LazyFS tool at %s; skipped" % args.lazyfs)
        return SKIP
    lazyfs = subprocess.run([args.lazyfs, "path"], capture_output=True, text=True)
    if lazyfs.returncode != 0 or not os.access(lazyfs.stdout.strip(), os.X_OK):
        log("powercut: LazyFS cannot be built here; skipped\n" + lazyfs.stderr)
        return SKIP
    args.lazyfs = lazyfs.stdout.strip()

    rng = random.Random(args.seed)
    work = args.work or tempfile.mkdtemp(prefix="tarnwick-powercut-")
    rig = Rig(args, work)
    scenarios = [s for s in args.scenarios.split(",") if s]
    failed = 0
    lost_total = 0
    cut_count = 0
    try:
        rig.setup()
        sizes = {s: rig.calibrate(s) for s in scenarios}
        log("powercut: %d entries, seed %d, scenarios %s" % (args.entries, args.seed, sizes))
        for i in range(args.cuts):
            scenario = scenarios[i % len(scenarios)]
            fsyncs, seconds = sizes[scenario]
            by_fsyncs = i % 2 == 0
            budget = rng.randint(1, fsyncs) if by_fsyncs else rng.uniform(0.05, seconds)
            how = "after %d fsyncs" % budget if by_fsyncs else "after %.2f s" % budget
            problems, lost = getattr(rig, "scenario_" + scenario)(by_fsyncs, budget)
            cut_count += 1
            lost_total += len(lost)
            if lost:
                problems.append("%d changed marks never mailed: %s" % (len(lost), " ".join(sorted(lost)[:5])))
            log("cut %d: %s %s: %s" % (i + 1, scenario, how, "ok" if not problems else "FAILED"))
            for p in problems:
                log("    " + p)
            failed += 1 if problems else 0
    finally:
        rig.fs.unmount()
        rig.office.stop()
        rig.sink.stop()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    log("powercut: %d cuts, %d failed, %d notices lost, %d marks mailed twice"
        % (cut_count, failed, lost_total, rig.duplicates))
    log("  (a mark mailed twice after a cut in a sending is one whose message went out just before the cut)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
