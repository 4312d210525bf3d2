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
    # Sizes across the framing boundaries, both ways: empty, one short packet, containers (12-byte
    # header plus data) of exactly one and two 512-byte packets, libmtp's 16 KiB read chunks and
    # larger odd ones. Object handles follow the listing order: "Download" gets 1, f2 to f9 2 to 9.
    id=2
    for size in 0 1 500 1012 16372 16384 49159 1048579; do
        head -c $size /dev/urandom >"$work/phone/f$id"
        id=$((id + 1))
    done
    for id in 2 3 4 5 6 7 8 9; do
        mtp-getfile $id "$work/local/f$id" >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
        cmp "$work/phone/f$id" "$work/local/f$id"
    done
    for id in 2 3 4 5 6 7 8 9; do
        mtp-sendfile "$work/local/f$id" /Download >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
        expect "$work/out" "New file ID: "
        cmp "$work/phone/f$id" "$work/phone/Download/f$id"
    done
    ;;
*)
    echo "unknown check: $check" >&2
    exit 2
    ;;
esac
