#!/usr/bin/env python3
"""The baseline of the compatibility sweep: what every installed plugin gave
on the sweep's fixed input, and why each entry last changed.

The baseline is a text file of tab-separated lines "URI DIGEST REASON" after
comment lines ("#"); one comment line "# packages: NAME=VERSION ..." names the
plugin packages it was recorded with. DIGEST is what compat_wav.py digest
gives for the output (a sketch of the samples, or the hash of a MIDI output),
"report ..." for the readings of a plugin without outputs, "random" for a
plugin whose output differs from run to run (not compared), or "failed",
"crashed signal N", "hung". REASON says why the entry last changed; it may be
empty only in the commit that first recorded the baseline.

compat_baseline.py digests COMPAT_DIR BASELINE
    fills in the detail and the digest of every run of the sweep that went
    well (results/NUMBER, from runs/NUMBER/out.*) and prints "NUMBER URI" for
    each plugin whose digest is not the baseline's, to be run again.
compat_baseline.py seconds COMPAT_DIR
    marks "random" each plugin of again.txt whose second run
    (runs/NUMBER/second.*) differs from the first, and removes the run
    folders with nothing to look at.
compat_baseline.py check BASELINE RESULTS PACKAGES [--partial]
    lists every plugin whose digest in RESULTS (the sweep's results.txt)
    differs from the baseline, new plugins, and (without --partial, which
    a sweep of some plugins only gives) plugins of the baseline that were not
    swept; notes packages whose versions differ; status 1 if any changed.
compat_baseline.py update BASELINE RESULTS PACKAGES REASON [--partial]
    writes the digests that changed, with REASON, and keeps every other line
    as it is (its digest is within the tolerance); lists what it changed.
compat_baseline.py history BASELINE
    checks the baseline's git history and the working tree: every change of
    a digest, and every new plugin, comes with a reason that is not empty and
    differs from the reason the line had before; status 1 if one does not.
"""
import glob
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compat_wav import look, same_digest  # noqa: E402

HEADER = """\
# Outputs of every installed LV2 plugin in the compatibility sweep
# (scripts/compat.sh, `make compat`), for Debian 12's plugin packages.
# URI<TAB>digest<TAB>reason: the reason says why the digest last changed
# (empty in the first record); `make compat-update REASON=...` writes it.
"""


def read_baseline_text(text):
    """The entries {uri: (digest, reason)} and the packages {name: version}."""
    entries, packages = {}, {}
    for line in text.splitlines():
        if line.startswith("# packages:"):
            for item in line[len("# packages:"):].split():
                name, _, version = item.partition("=")
                packages[name] = version
            continue
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) < 2:
            raise ValueError("baseline line without a digest: %r" % line)
        entries[fields[0]] = (fields[1], fields[2] if len(fields) > 2 else "")
    return entries, packages


def read_baseline(path):
    if not os.path.exists(path):
        return {}, {}
    with open(path, encoding="utf-8") as f:
        return read_baseline_text(f.read())


def write_baseline(path, entries, packages):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write(HEADER)
        f.write("# packages: %s\n" % " ".join(
            "%s=%s" % item for item in sorted(packages.items())))
        for uri in sorted(entries):
            digest, reason = entries[uri]
            f.write("%s\t%s\t%s\n" % (uri, digest, reason))
    os.replace(path + ".new", path)


def read_results(path):
    """{uri: digest} from the sweep's results (URI|outcome|...|digest)."""
    found = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("|")
            if len(fields) >= 6:
                found[fields[0]] = fields[5]
    return found


def result_fields(compat_dir, number):
    with open(os.path.join(compat_dir, "results", number), encoding="utf-8") as f:
        return f.read().rstrip("\n").split("|")


def write_result(compat_dir, number, fields):
    with open(os.path.join(compat_dir, "results", number), "w", encoding="utf-8") as f:
        f.write("|".join(fields) + "\n")


def run_output(compat_dir, number, name):
    """The output file of a plugin's run "out" or "second", or None."""
    found = glob.glob(os.path.join(compat_dir, "runs", number, name + ".*"))
    return found[0] if found else None


def digests(compat_dir, baseline):
    entries, _ = read_baseline(baseline)
    for number in sorted(os.listdir(os.path.join(compat_dir, "results")), key=int):
        fields = result_fields(compat_dir, number)
        if fields[1] != "ok" or fields[5] != "-":
            continue
        out = run_output(compat_dir, number, "out")
        try:
            fields[2], fields[5] = look(out) if out else ("no output", "no output")
        except (OSError, ValueError, IndexError) as error:
            fields[2] = fields[5] = "unreadable (%s)" % error
        write_result(compat_dir, number, fields)
        recorded = entries.get(fields[0], ("", ""))[0]
        if recorded != "random" and not same_digest(recorded, fields[5]):
            print(number, fields[0])
    return 0


def seconds(compat_dir):
    again = set()
    with open(os.path.join(compat_dir, "again.txt"), encoding="utf-8") as f:
        for line in f:
            number = line.split()[0]
            again.add(number)
            fields = result_fields(compat_dir, number)
            second = run_output(compat_dir, number, "second")
            try:
                same = second is not None and same_digest(fields[5], look(second)[1])
            except (OSError, ValueError, IndexError):
                same = False
            if not same:
                fields[5] = "random"
                write_result(compat_dir, number, fields)
    for number in os.listdir(os.path.join(compat_dir, "results")):
        fields = result_fields(compat_dir, number)
        if (fields[1] == "ok" and number not in again and
                not fields[3].startswith(("differ", "shape"))):
            shutil.rmtree(os.path.join(compat_dir, "runs", number), ignore_errors=True)
    return 0


def read_packages(path):
    packages = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            name, _, version = line.strip().partition("=")
            if name:
                packages[name] = version
    return packages


def unchanged(old, new):
    """True when a plugin's new digest matches its baseline digest."""
    if old == "random":
        return not new.startswith(("failed", "crashed", "hung"))
    return same_digest(old, new)


def changes(entries, results, partial):
    """[(uri, what)] for every plugin whose output changed, by URI."""
    found = []
    for uri, digest in sorted(results.items()):
        if uri not in entries:
            found.append((uri, "new: %s" % short(digest)))
        elif not unchanged(entries[uri][0], digest):
            found.append((uri, describe(entries[uri][0], digest)))
    if not partial:
        for uri in sorted(set(entries) - set(results)):
            found.append((uri, "not installed"))
    return found


def describe(old, new):
    """What changed between two digests, in a few words."""
    pa, pb = old.split("; "), new.split("; ")
    if old.startswith("audio ") and pa[0] == pb[0] and len(pa) == len(pb):
        worst, rms_old, rms_new = 0.0, [], []
        for ca, cb in zip(pa[1:], pb[1:]):
            try:
                xa, xb = [float(x) for x in ca.split()], [float(x) for x in cb.split()]
            except ValueError:
                return "%s: %s -> %s" % (pa[0], ca, cb)
            rms_old.append("%.4g" % xa[0])
            rms_new.append("%.4g" % xb[0])
            level = max(xa[0], xb[0], 1e-30)
            worst = max([worst] + [abs(x - y) / level for x, y in zip(xa[1:], xb[1:])])
        return "%s, RMS %s -> %s, sketch off by %.2g of the RMS" % (
            pa[0], "/".join(rms_old), "/".join(rms_new), worst)
    return "%s -> %s" % (short(old), short(new))


def short(digest):
    """The first words of a digest, enough to tell what kind of change it is."""
    head = digest.split("; ")[0]
    return head if len(head) <= 60 else head[:57] + "..."


def package_notes(recorded, installed):
    notes = []
    for name in sorted(set(recorded) | set(installed)):
        if recorded.get(name) != installed.get(name):
            notes.append("%s %s (baseline %s)" % (
                name, installed.get(name, "missing"), recorded.get(name, "none")))
    return notes


def check(baseline, results_path, packages_path, partial):
    entries, recorded = read_baseline(baseline)
    changed = changes(entries, read_results(results_path), partial)
    notes = package_notes(recorded, read_packages(packages_path))
    if notes:
        print("Installed plugin packages differ from the baseline's: " + ", ".join(notes))
    if not changed:
        print("Plugin outputs: all as in %s." % os.path.basename(baseline))
        return 0
    print("Plugin outputs that changed (%d), against %s:" % (
        len(changed), os.path.basename(baseline)))
    for uri, what in changed:
        print("- %s: %s" % (uri, what))
    print("If the change is meant, record it with its reason: "
          "make compat-update REASON='why the output changed'")
    return 1


def update(baseline, results_path, packages_path, reason, partial):
    entries, recorded = read_baseline(baseline)
    results = read_results(results_path)
    changed = changes(entries, results, partial)
    first = not entries
    if changed and not first and not reason.strip():
        print("compat: give the reason of the change: make compat-update REASON='...'")
        return 1
    for uri, _ in changed:
        if uri in results:
            entries[uri] = (results[uri], reason.strip())
        else:
            del entries[uri]
    packages = read_packages(packages_path)
    if partial:
        recorded.update(packages)
        packages = recorded
    write_baseline(baseline, entries, packages)
    for uri, what in changed:
        print("- %s: %s" % (uri, what))
    print("compat: %d entries of %s updated." % (len(changed), os.path.basename(baseline)))
    return 0


def git(root, *args):
    return subprocess.run(["git", "-C", root] + list(args), capture_output=True,
                          text=True, check=False)


def unreasoned(old_text, new_text):
    """The URIs whose digest changed, or that are new, without a new reason."""
    old, _ = read_baseline_text(old_text)
    new, _ = read_baseline_text(new_text)
    missing = []
    for uri, (digest, reason) in sorted(new.items()):
        before = old.get(uri)
        if before is not None and before[0] == digest:
            continue
        if not reason.strip() or (before is not None and before[1] == reason):
            missing.append(uri)
    return missing


def history(baseline):
    root = os.path.dirname(os.path.abspath(baseline))
    top = git(root, "rev-parse", "--show-toplevel")
    if top.returncode != 0:
        print("compat: %s is not in a git repository; history not checked." % baseline)
        return 0
    path = os.path.relpath(os.path.abspath(baseline), top.stdout.strip())
    commits = git(top.stdout.strip(), "log", "--format=%H", "--", path).stdout.split()
    root = top.stdout.strip()
    faults = []

    def text_at(revision):
        shown = git(root, "show", "%s:%s" % (revision, path))
        return shown.stdout if shown.returncode == 0 else None

    # (old, new, name): each commit against its first parent, then the
    # working tree against the last commit.
    steps = []
    for commit in reversed(commits):
        steps.append((text_at(commit + "^"), text_at(commit), commit[:12]))
    if os.path.exists(baseline):
        with open(baseline, encoding="utf-8") as f:
            steps.append((text_at("HEAD"), f.read(), "working tree"))
    for old, new, name in steps:
        # The commit that first records the baseline needs no reasons; in a
        # shallow clone the parent of the oldest commit may be missing.
        if old is None or new is None:
            continue
        for uri in unreasoned(old, new):
            faults.append("%s: %s changed without a new reason" % (name, uri))
    if faults:
        print("compat: the baseline changed without reasons:")
        for fault in faults:
            print("- " + fault)
        return 1
    return 0


def main():
    args = [a for a in sys.argv[1:] if a != "--partial"]
    partial = "--partial" in sys.argv[1:]
    if len(args) == 3 and args[0] == "digests":
        return digests(args[1], args[2])
    if len(args) == 2 and args[0] == "seconds":
        return seconds(args[1])
    if len(args) == 4 and args[0] == "check":
        return check(args[1], args[2], args[3], partial)
    if len(args) == 5 and args[0] == "update":
        return update(args[1], args[2], args[3], args[4], partial)
    if len(args) == 2 and args[0] == "history":
        return history(args[1])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
