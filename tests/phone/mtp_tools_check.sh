#!/bin/sh
# Runs Debian's stock mtp-tools against the emulated phone, as an independent libmtp client.
# Usage: mtp_tools_check.sh <folder of the stand-in libusb-1.0.so.0> detect|roundtrip
set -eu
standin=$1
check=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/phone/Download" "$work/local"
export LD_LIBRARY_PATH="$standin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export QB_PHONE_FOLDER="$work/phone"

expect() { # expect <file> <fixed text>: fails showing the file when the text is missing
    grep -qF -- "$2" "$1" || { cat "$1"; echo "missing: $2"; exit 1; }
}

case $check in
detect)
    mtp-detect >"$work/out" 2>&1
    expect "$work/out" "(18d1:4ee2) @ bus 1, dev "
    expect "$work/out" "Model: Pixel 7"
    expect "$work/out" "Serial number: QB0001"
    expect "$work/out" "StorageDescription: Internal shared storage"
    [ "$(tail -n 1 "$work/out")" = "OK." ] || { cat "$work/out"; exit 1; }
    ;;
roundtrip)
    # Object handles follow the listing order: "Download" gets 1, "photo.jpg" 2.
    head -c 1048583 /dev/urandom >"$work/phone/photo.jpg"
    mtp-getfile 2 "$work/local/back.jpg" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
    cmp "$work/phone/photo.jpg" "$work/local/back.jpg"
    mtp-sendfile "$work/local/back.jpg" /Download >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
    expect "$work/out" "New file ID: "
    cmp "$work/phone/photo.jpg" "$work/phone/Download/back.jpg"
    ;;
*)
    echo "unknown check: $check" >&2
    exit 2
    ;;
esac
