#!/bin/sh
# Installs the Debian packages that building, testing and the demo need,
# and only those that are missing.
set -eu

packages="cmake g++ make pkg-config liblilv-dev lv2-dev libsndfile1-dev libargtable2-dev nettle-dev
libgtest-dev nlohmann-json3-dev libsoxr-dev libebur128-dev libflac-dev lilv-utils lv2-examples mda-lv2 swh-lv2 fomp blop-lv2 x42-plugins calf-plugins lsp-plugins-lv2 sox valgrind flac
groff mandoc parallel bash-completion jq python3 git ffmpeg
clang libclang-rt-14-dev
python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-dask python3-distributed python3-mido"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
