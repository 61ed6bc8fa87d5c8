#!/usr/bin/env python3
"""check_floor.py LIST FLOOR OBJDUMP DLL...: every function the DLLs import must be in LIST
(windows-imports.txt) under a Windows no newer than FLOOR ("Windows Vista"). Prints each import that
is not, with the Windows it needs, and exits 1; exits 0 when all are allowed."""
import re
import subprocess
import sys

WINDOWS = ["Windows 2000", "Windows XP", "Windows Vista", "Windows 7", "Windows 8", "Windows 8.1", "Windows 10"]


def main(list_path, floor, objdump, *dlls):
    allowed = {}
    with open(list_path, encoding="utf-8") as listing:
        for line in listing:
            if line.strip() and not line.startswith("#"):
                head, functions = line.split(":", 1)
                library, windows = head.split(" ", 1)
                allowed.update({(library.lower(), f): windows for f in functions.split()})
    imports = set()
    for dll in dlls:
        dump = subprocess.run([objdump, "-p", dll], capture_output=True, text=True, check=True).stdout
        # Each table: "DLL Name: X", a heading line, then "vma hint name" lines up to a blank one; an
        # import by ordinal has no name and is reported by its number.
        for library, entries in re.findall(r"DLL Name: (\S+)\n[^\n]*\n(.*?)\n\n", dump, re.S):
            imports.update((library, entry.split()[-1]) for entry in entries.splitlines())
    problems = []
    for library, function in sorted(imports):
        windows = allowed.get((library.lower(), function))
        if windows is None:
            problems.append(f"{library} {function}: not in {list_path}; add it with its minimum client")
        elif WINDOWS.index(windows) > WINDOWS.index(floor):
            problems.append(f"{library} {function}: needs {windows}, newer than {floor}")
    print("\n".join(problems) or f"{len(imports)} imports, all exported by {floor}")
    return 1 if problems or not imports else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
