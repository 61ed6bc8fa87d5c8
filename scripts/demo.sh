#!/usr/bin/env bash
# The main job, end to end: builds imex.dll and the tools, starts the
# simulated handheld on COM1 (a pseudo-terminal), lets imexhost.exe call
# ImEx on the sample record file under Wine, and prints the contacts the
# device stored, which it also exports as a vCard file. Installs what is
# missing first.
#
#   scripts/demo.sh [RECORD_FILE]      (default: samples/contacts.rec)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
record_file=$(realpath "${1:-samples/contacts.rec}")

say() { printf '\n=== %s\n' "$*"; }

say "setup"
bash scripts/setup.sh
# The 32-bit DLL is the product; where this machine cannot run 32-bit
# programs, the 64-bit build of the same sources stands in for it.
if bash scripts/runs-i386.sh; then
    preset=windows; arch=win32
    say "this machine runs 32-bit programs: the demo uses the 32-bit imex.dll"
else
    preset=windows64; arch=win64
    say "this machine does not run 32-bit programs: the demo uses the 64-bit imex.dll under wine64"
fi
export IMEX_WINE_ARCH=$arch
say "build (native tools and the Windows DLL, $preset)"
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target pdasim
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target imex imexhost

export IMEX_PDASIM="$repo/build/native/tools/pdasim/pdasim"
say "Wine prefix ($arch)"
bash tests/wine/winerun.sh --init
bash tests/wine/winerun.sh --warm
trap 'bash tests/wine/winerun.sh --stop' EXIT

log="$repo/build/demo/device.jsonl"
vcard="$repo/build/demo/device.vcf"
mkdir -p "$(dirname "$log")"
rm -f "$log" "$vcard"
windows_path="Z:${record_file//\//\\}"

say "transfer $record_file to the simulated device on COM1"
set +e
bash tests/wine/with-devices.sh --sim COM1 "--log $log --export-vcard $vcard --server-type 演示设备 --free-kb 2048" -- \
    bash tests/wine/winerun.sh "build/$preset/bin/imexhost.exe" --answer-boxes "$windows_path"
rc=$?
set -e

say "what the device stored"
python3 - "$log" <<'PY'
import json, os, subprocess, sys
# The record's eleven fields and the file's field codes that feed them, from
# pdasim's table; a field whose value must pass a test also says which.
table = subprocess.run([os.environ["IMEX_PDASIM"], "--payload-fields"],
                       capture_output=True, text=True, check=True).stdout
fields = [json.loads(line) for line in table.splitlines()]
names = [f"{f['code']} ({f['name']})" if f["checked"] else f["code"] or f["name"] for f in fields]
try:
    lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
except FileNotFoundError:
    lines = []
for line in lines:
    rec = json.loads(line)
    status = "stored" if rec["status"] else "refused"
    print(f"record {rec['seq']} ({rec['length']} bytes, {status})")
    for label, text in zip(names, rec["fields"]):
        if text:
            shown = text.replace("\r\n", "\n" + " " * 18)
            print(f"  {label:<15} {shown}")
print(f"{len(lines)} record(s) stored on the device")
PY
# Folded lines start with a space and line ends inside a value are
# escaped, so a line that begins a card is a card.
if [ -f "$vcard" ]; then
    cards=$(grep -c '^BEGIN:VCARD' "$vcard" || true)
    echo "vCard of the device's store: $vcard ($cards card(s))"
else
    echo "vCard of the device's store: none was written at $vcard"
fi
exit $rc
