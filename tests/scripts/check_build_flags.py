#!/usr/bin/env python3
"""The product and the benchmarks keep their build's optimisation while the
test code is compiled for speed: read from the build's compile_commands.json.
Product code built at -O0 would pass every test and ship slow."""
import argparse
import json
import os
import shlex
import sys

# The optimisation each build type gives ("-O0" where it gives none).
BUILD_LEVEL = {"RelWithDebInfo": "-O2", "Release": "-O3", "MinSizeRel": "-Os", "Debug": "-O0"}
KEPT = ("src", "tools", "bench")
C_AND_CXX = (".c", ".cc", ".cpp", ".cxx")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--build-type", required=True)
    options = parser.parse_args()
    repo, build = os.path.realpath(options.repo), os.path.realpath(options.build)
    want = BUILD_LEVEL.get(options.build_type)
    if want is None:
        sys.exit(f"build type {options.build_type!r}: its optimisation is not known here")
    entries = json.load(open(os.path.join(build, "compile_commands.json"), encoding="utf-8"))
    kept, failures = 0, []
    for entry in entries:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        # A unity build's sources are generated in the build folder, under the target's folder.
        path = os.path.relpath(path, build if path.startswith(build + os.sep) else repo)
        if path.split(os.sep)[0] not in KEPT or not path.endswith(C_AND_CXX):
            continue
        kept += 1
        arguments = entry.get("arguments") or shlex.split(entry["command"])
        levels = [a for a in arguments if a.startswith("-O") and len(a) <= 3]
        level = levels[-1] if levels else "-O0"
        if level != want:
            failures.append(f"{path}: {level}, not the build's {want}")
    if kept == 0:
        failures.append(f"no source of {', '.join(KEPT)} in {options.build}/compile_commands.json")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{kept} sources of {', '.join(KEPT)} at {want}: {'FAIL' if failures else 'PASS'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
