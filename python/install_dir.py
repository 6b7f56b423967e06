"""Prints where this interpreter finds packages under a prefix, relative to it.

An entry of sys.path inside the prefix of the form lib/pythonX.Y/NAME
(NAME site-packages or dist-packages) wins, then any other such entry;
otherwise lib/pythonX.Y/ and the last part of the interpreter's own
platlib path (dist-packages on Debian, else site-packages).
"""
import os
import sys
import sysconfig


def main(prefix):
    prefix = os.path.normpath(prefix)
    version = "python%d.%d" % sys.version_info[:2]
    found = []
    for entry in sys.path:
        entry = os.path.normpath(entry)
        if os.path.basename(entry) in ("site-packages", "dist-packages") and \
                entry.startswith(prefix + os.sep):
            found.append(os.path.relpath(entry, prefix))
    for relative in found:
        if os.path.dirname(relative) == os.path.join("lib", version):
            return relative
    if found:
        return found[0]
    name = os.path.basename(os.path.normpath(sysconfig.get_path("platlib")))
    if name not in ("site-packages", "dist-packages"):
        name = "site-packages"
    return os.path.join("lib", version, name)


if __name__ == "__main__":
    print(main(sys.argv[1]))
