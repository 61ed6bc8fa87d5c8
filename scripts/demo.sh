#!/usr/bin/env bash
# The main job, end to end: builds imex.dll and the tools, starts the
# simulated handheld on COM1 (a pseudo-terminal), lets imexhost.exe call
# ImEx on the sample record file under Wine, and prints the contacts the
# device stored, which it also exports as a vCard file. Installs what is
# missing first.
#
#   scripts/demo.sh [RECORD_FILE | VCARD_FILE.vcf]   (default: samples/contacts.rec)
#
# A vCard file is built into a record file first (recfile build --vcard), and
# at the end what went in is compared with the device's store, exported again
# as vCard.
set -euo pipefail
USAGE='usage: scripts/demo.sh [RECORD_FILE | VCARD_FILE.vcf]   (default: samples/contacts.rec)

Builds imex.dll and the tools, sends the file to the simulated handheld on
COM1 under Wine and lists what the device stored (build/demo/device.jsonl,
build/demo/device.vcf); a vCard file is built into a record file first and
compared with the device'"'"'s store at the end. To send to a real device on a
serial line, see scripts/send.sh --help.'
case "${1:-}" in
    -h|--help) echo "$USAGE"; exit 0 ;;
    -*) printf 'demo: unknown option %s\n%s\n' "$1" "$USAGE" >&2; exit 2 ;;
esac
[ $# -le 1 ] || { printf 'demo: one file at a time\n%s\n' "$USAGE" >&2; exit 2; }
if [ -c "${1:-}" ]; then
    echo "demo: $1 is a device: the demo sends to a simulated one; scripts/send.sh $1 FILE sends to a real one" >&2
    exit 2
fi
# The file is named from where the user stands, not from the repository.
input_file=$(realpath -m "${1:-$(dirname "$0")/../samples/contacts.rec}")
source "$(dirname "$0")/common.sh"
cd "$IMEX_REPO"
repo=$IMEX_REPO
if [ ! -f "$input_file" ]; then
    echo "demo: no such file: $input_file" >&2
    exit 2
fi
case "${input_file,,}" in
    *.vcf|*.vcard) vcard_input=$input_file ;;
    *) vcard_input= ;;
esac

say() { printf '\n=== %s\n' "$*"; }

say "setup"
bash scripts/setup.sh
imex_choose_windows_build
preset=$IMEX_WINDOWS_PRESET; arch=$IMEX_WINE_ARCH
say "the demo uses the ${IMEX_WINDOWS_BITS}-bit imex.dll ($preset)"
say "build (native tools and the Windows DLL, $preset)"
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target pdasim recfile
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target imex imexhost

say "Wine prefix ($arch)"
bash tests/wine/winerun.sh --init
bash tests/wine/winerun.sh --warm
trap 'bash tests/wine/winerun.sh --stop' EXIT

log="$repo/build/demo/device.jsonl"
vcard="$repo/build/demo/device.vcf"
mkdir -p "$(dirname "$log")"
rm -f "$log" "$vcard"
if [ -n "$vcard_input" ]; then
    record_file="$repo/build/demo/$(basename "${vcard_input%.*}").rec"
    say "build $record_file from the vCard file $vcard_input"
    "$IMEX_RECFILE" build --vcard "$vcard_input" "$record_file"
else
    record_file=$input_file
fi
windows_path="Z:${record_file//\//\\}"

say "transfer $record_file to the simulated device on COM1"
set +e
bash tests/wine/with-devices.sh --sim COM1 "--log $log --export-vcard $vcard --server-type 演示设备 --free-kb 2048" -- \
    bash tests/wine/winerun.sh "build/$preset/bin/imexhost.exe" --answer-boxes "$windows_path"
rc=$?
set -e

say "what the device stored"
python3 scripts/devicelog.py --pdasim "$IMEX_PDASIM" "$log"
# Folded lines start with a space and line ends inside a value are
# escaped, so a line that begins a card is a card.
if [ -f "$vcard" ]; then
    cards=$(grep -c '^BEGIN:VCARD' "$vcard" || true)
    echo "vCard of the device's store: $vcard ($cards card(s))"
else
    echo "vCard of the device's store: none was written at $vcard"
fi
if [ -n "$vcard_input" ] && [ -f "$vcard" ]; then
    say "what went in ($vcard_input) against what the device holds ($vcard)"
    diff_file="$repo/build/demo/book-vs-device.diff"
    set +e
    /usr/bin/python3 "$IMEX_COMPAREBOOKS" "$vcard_input" "$vcard" >"$diff_file"
    same=$?
    set -e
    if [ $same -eq 0 ]; then
        tail -n 1 "$diff_file"
        echo "every value with a field code arrived"
    else
        head -n 40 "$diff_file"
        echo "differences above (all of them in $diff_file)"
        [ $rc -ne 0 ] || rc=1
    fi
fi
exit $rc
