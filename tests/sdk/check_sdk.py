#!/usr/bin/env python3
"""What a host program's developer gets, tried as one would: check_sdk.py CASE --build-dir DIR ...

Each case installs the build (`cmake --install`), packs its ZIP (`cpack`) in --workdir, unpacks it
and checks SHA256SUMS, then:
  hosts             builds from the ZIP alone docs/host-integration.md's CMake project (find_package,
                    imex::imex: the mingw import library), its LoadLibrary host, and msvc_host.c the
                    MSVC way (clang, lld-link, imex.lib); under Wine, mode 2 gives 0, a missing file 2,
                    a transfer to pdasim 0
  version_resource  reads the packed DLL's version resource with versioncheck.exe
"""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2e  # noqa: E402


def run(command, what, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise e2e.CaseFailure(f"{what} failed: {' '.join(command)}\n{done.stdout[-2000:]}{done.stderr[-2000:]}")


def unpack(o):
    """The unpacked ZIP's folder: SHA256SUMS holds for every other file, which cmake --install gives too."""
    prefix = os.path.join(o.workdir, "install")
    run([o.cmake, "--install", o.build_dir, "--prefix", prefix], "cmake --install")
    run([o.cpack, "--config", os.path.join(o.build_dir, "CPackConfig.cmake"), "-B", o.workdir], "cpack")
    name = f"imex-{o.version}-{o.arch}"
    with zipfile.ZipFile(os.path.join(o.workdir, name + ".zip")) as archive:
        archive.extractall(o.workdir)
        files = sorted(entry[len(name) + 1:] for entry in archive.namelist() if not entry.endswith("/"))
    root = os.path.join(o.workdir, name)
    run(["sha256sum", "--strict", "-c", "SHA256SUMS"], "sha256sum -c SHA256SUMS", cwd=root)
    with open(os.path.join(root, "SHA256SUMS"), encoding="ascii") as sums:
        listed = sorted(line.split("  ", 1)[1].rstrip("\n") for line in sums)
    if listed != [f for f in files if f != "SHA256SUMS"]:
        raise e2e.CaseFailure(f"SHA256SUMS lists {listed}, the ZIP holds {files}")
    installed = sorted(os.path.relpath(os.path.join(d, f), prefix) for d, _, names in os.walk(prefix) for f in names)
    if installed != listed or not all(filecmp.cmp(os.path.join(prefix, f), os.path.join(root, f), False)
                                      for f in installed):
        raise e2e.CaseFailure(f"cmake --install gave {installed}, not the ZIP's files {listed}")
    return root


def write_examples(root, folder):
    """Writes the guide's marked examples (`<!-- example: NAME -->` before a code block) into folder."""
    with open(os.path.join(root, "docs", "host-integration.md"), encoding="utf-8") as guide:
        examples = dict(re.findall(r"<!-- example: (\S+) -->\n```\w+\n(.*?)```", guide.read(), re.S))
    os.makedirs(folder, exist_ok=True)
    for name, text in examples.items():
        with open(os.path.join(folder, name), "w", encoding="utf-8") as out:
            out.write(text)
    return folder


def hosts(o, checks):
    root = unpack(o)
    source = write_examples(root, os.path.join(o.workdir, "examples"))

    def exe(name):
        return os.path.join(root, "bin", name + ".exe")

    build = os.path.join(o.workdir, "examples-build")
    run([o.cmake, "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_TOOLCHAIN_FILE=" + o.toolchain,
         "-Dimex_DIR=" + os.path.join(root, "lib", "cmake", "imex")], "configuring the guide's CMake project")
    run([o.cmake, "--build", build], "building the guide's CMake project")
    os.replace(os.path.join(build, "host.exe"), exe("host"))
    include = "-I" + os.path.join(root, "include")
    run([o.c_compiler, "-Wall", "-Werror", include, os.path.join(source, "host_dynamic.c"), "-o", exe("host_dynamic")],
        "host_dynamic.c")
    # The MSVC way, with KERNEL32's import library made from a .def as imex.lib is.
    win32 = o.arch == "win32"
    with open(os.path.join(o.workdir, "kernel32.def"), "w", encoding="ascii") as out:
        out.write("LIBRARY KERNEL32.dll\nEXPORTS\n" + ("GetCommandLineA@0\nExitProcess@4\n" if win32 else
                                                       "GetCommandLineA\nExitProcess\n"))
    run([o.llvm_dlltool, "-m", "i386" if win32 else "i386:x86-64", "-k", "-d", os.path.join(o.workdir, "kernel32.def"),
         "-l", os.path.join(o.workdir, "kernel32.lib")], "llvm-dlltool")
    obj = os.path.join(o.workdir, "msvc_host.obj")
    run([o.clang, "--target=" + ("i686" if win32 else "x86_64") + "-pc-windows-msvc", "-Wall", "-Werror", include,
         "-c", os.path.join(HERE, "msvc_host.c"), "-o", obj], "clang for the MSVC target")
    run([o.lld_link, "/nologo", "/entry:HostStart", "/subsystem:console", "/nodefaultlib", "/out:" + exe("msvc_host"),
         obj, os.path.join(root, "lib", "imex.lib"), os.path.join(o.workdir, "kernel32.lib")], "lld-link, imex.lib")

    record_file = e2e.build_file(o.workdir, "two", e2e.contacts(2))
    missing = os.path.join(o.workdir, "missing.rec")
    dll = e2e.win_path(os.path.join(root, "bin", "imex.dll"))
    # host -> its arguments for (file, mode); msvc_host prints nothing, its exit code tells
    programs = {"host": lambda f, m: [f, m], "host_dynamic": lambda f, m: [dll, f, m], "msvc_host": lambda f, m: [m, f]}
    # (what, file, mode, result, progress printed, device)
    cases = [("mode 2", record_file, 2, 0, [], False), ("missing file", missing, 1, 2, [], False),
             ("transfer", record_file, 1, 0, ["record 1 of 2", "record 2 of 2"], True)]
    for program, arguments in programs.items():
        for what, path, mode, result, progress, device in cases:
            case = e2e.Case(argparse.Namespace(workdir=o.workdir))
            case.checks = checks
            try:
                if device:
                    case.start_sims(com1=[])
                ran = e2e.run_windows(exe(program), arguments(e2e.win_path(path), str(mode)), o.workdir, limit=120)
            finally:
                case.stop_all()
            checks.equal(ran.code, result, f"{program}, {what}: exit code")
            if program != "msvc_host":
                checks.equal(ran.texts(), progress + [f"result {result}"], f"{program}, {what}: output")
            if device:
                case.expect_sent("COM1", e2e.payloads(record_file), f"{program}, {what}", statuses=[1, 1])


def version_resource(o, checks):
    root = unpack(o)
    ran = e2e.run_windows(o.versioncheck, [e2e.win_path(os.path.join(root, "bin", "imex.dll"))], o.workdir, limit=60)
    checks.equal((ran.code, ran.texts()), (0, [
        f"{o.version}.0 {o.version}.0", "FileDescription=imex: contact records to a handheld device over a serial port",
        f"FileVersion={o.version}", "InternalName=imex", "OriginalFilename=imex.dll", "ProductName=imex",
        f"ProductVersion={o.version}", "LegalCopyright=Copyright (c) the imex authors. MIT License.",
        f"Comments=Runs on {o.oldest_windows} and later."]), "versioncheck: exit code and output")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", choices=["hosts", "version_resource"])
    for option in ("build-dir", "arch", "version", "workdir", "cmake", "cpack", "c-compiler", "clang", "lld-link",
                   "llvm-dlltool", "toolchain", "versioncheck", "oldest-windows"):
        parser.add_argument("--" + option)
    o = parser.parse_args()
    shutil.rmtree(o.workdir, ignore_errors=True)
    os.makedirs(o.workdir)
    checks = e2e.Checks()
    try:
        globals()[o.case](o, checks)
    except e2e.CaseFailure as failure:
        checks.failed.append(str(failure))
    if checks.failed:
        print(f"FAIL {o.case}:\n" + "\n".join(" - " + f for f in checks.failed) + f"\n(work files: {o.workdir})")
        return 1
    print(f"PASS {o.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
