#!/usr/bin/env python3
"""The test command's checks fail, naming the cause, where they would have
nothing to check: the house style over git's tracked sources (all of them,
and more than none), the reproducible build and the release ZIP's file time
where git is missing or the tree is no checkout. Prints one line per case
and "N passed, M failed"; exits 1 on any failure."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE_GLOBS = ["include/*.h", "src/*.c", "src/*.cpp", "src/*.h", "tools/*.c", "tools/*.cpp", "tools/*.h",
                "tests/*.c", "tests/*.cpp", "tests/*.h", "bench/*.cpp", "bench/*.h"]


def path_without_git(workdir):
    """A PATH holding every program of this one but git."""
    folder = os.path.join(workdir, "bin-without-git")
    os.makedirs(folder)
    for entry in os.environ["PATH"].split(os.pathsep):
        if not os.path.isdir(entry):
            continue
        for name in os.listdir(entry):
            target = os.path.join(entry, name)
            link = os.path.join(folder, name)
            if name != "git" and not os.path.lexists(link) and os.access(target, os.X_OK):
                os.symlink(target, link)
    return folder


def copy_without_git(repo, workdir):
    """The scripts and build files of the tree, in a folder that is no checkout."""
    copy = os.path.join(workdir, "copy")
    for part in ("scripts", "cmake"):
        shutil.copytree(os.path.join(repo, part), os.path.join(copy, part))
    shutil.copy(os.path.join(repo, ".clang-format"), copy)
    return copy


def run(command, env=None, cwd=None):
    result = subprocess.run(command, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=300)
    return result.returncode, result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--cmake", default="cmake")
    o = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="imex-checks-")
    failures = 0
    passed = 0

    def judge(name, ok, detail):
        nonlocal failures, passed
        print(("ok " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
        passed += ok
        failures += not ok

    try:
        env = dict(os.environ)
        env.pop("SOURCE_DATE_EPOCH", None)
        no_git = dict(env, PATH=path_without_git(workdir))
        copy = copy_without_git(o.repo, workdir)
        time_probe = os.path.join(workdir, "package_time.cmake")
        with open(time_probe, "w") as f:
            f.write('include("%s/cmake/ImexPackageTime.cmake")\nmessage("time=$ENV{SOURCE_DATE_EPOCH}")\n' % o.repo)

        tracked = run(["git", "-C", o.repo, "ls-files", "--"] + SOURCE_GLOBS)[1].split()
        status, out = run(["bash", os.path.join(o.repo, "scripts/format.sh"), "--check"], env)
        counted = re.search(r"format: (\d+) files in the house style", out)
        judge("house style checks every tracked source", status == 0 and counted is not None and
              len(tracked) > 0 and int(counted.group(1)) == len(tracked),
              "status %d, %d tracked sources, output: %s" % (status, len(tracked), out.strip()[-300:]))

        commit_time = run(["git", "-C", o.repo, "log", "-1", "--format=%ct"])[1].strip()
        status, out = run([o.cmake, "-DCPACK_IMEX_SOURCE_DIR=" + o.repo, "-P", time_probe], env)
        judge("the ZIP's file time is the commit's", status == 0 and "time=" + commit_time in out,
              "expected time=%s, got status %d: %s" % (commit_time, status, out.strip()))

        # Each must fail and name the cause.
        refusals = [
            ("house style without git", ["bash", os.path.join(o.repo, "scripts/format.sh"), "--check"], no_git,
             "git is not installed"),
            ("house style outside a checkout", ["bash", os.path.join(copy, "scripts/format.sh"), "--check"], env,
             "is no git checkout"),
            ("reproducible build without git", ["bash", os.path.join(o.repo, "scripts/reproducible.sh")], no_git,
             "git is not installed"),
            ("reproducible build outside a checkout", ["bash", os.path.join(copy, "scripts/reproducible.sh")], env,
             "is no git checkout"),
            ("the ZIP's file time without git", [o.cmake, "-DCPACK_IMEX_SOURCE_DIR=" + o.repo, "-P", time_probe],
             no_git, "git is not installed"),
            ("the ZIP's file time outside a checkout", [o.cmake, "-DCPACK_IMEX_SOURCE_DIR=" + copy, "-P", time_probe],
             env, "git cannot tell it"),
        ]
        for name, command, run_env, cause in refusals:
            status, out = run(command, run_env)
            flat = " ".join(out.split())
            judge(name + " fails and says why", status != 0 and cause in flat and "time=" not in flat,
                  "status %d, expected a message with %r, got: %s" % (status, cause, flat[-300:]))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failures))
    return 1 if failures or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
