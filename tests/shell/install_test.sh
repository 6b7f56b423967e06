#!/bin/sh
# Installs into a temporary DESTDIR, with cmake --install and with
# make install, and runs the installed program.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -u
build=$1
source=$2
version=$3
status=0
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

check_tree()
{
    prefix=$1
    for file in bin/tonbrix share/man/man1/tonbrix.1 share/bash-completion/completions/tonbrix; do
        if [ ! -f "$prefix/$file" ]; then
            echo "missing: $prefix/$file"
            status=1
        fi
    done
    [ -x "$prefix/bin/tonbrix" ] || { echo "not executable: $prefix/bin/tonbrix"; status=1; }
    first=$("$prefix/bin/tonbrix" --version | head -n 1)
    [ "$first" = "tonbrix $version" ] || { echo "installed --version says '$first'"; status=1; }
    cmp -s "$prefix/share/bash-completion/completions/tonbrix" "$source/completions/tonbrix.bash" ||
        { echo "installed completion differs"; status=1; }
    grep -q "tonbrix $version" "$prefix/share/man/man1/tonbrix.1" ||
        { echo "installed man page lacks the version"; status=1; }
}

DESTDIR="$root/cmake" cmake --install "$build" --prefix /opt/tonbrix >/dev/null || status=1
check_tree "$root/cmake/opt/tonbrix"

# The Makefile's recipe, without building again (-o build: taken as made).
make -s -C "$source" -o build install BUILD_DIR="$build" PREFIX=/usr/local \
    DESTDIR="$root/make" >/dev/null || status=1
check_tree "$root/make/usr/local"
exit $status
