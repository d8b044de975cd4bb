#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the Markdown documents as the package installs them: each link to
a file the package carries points at it where it is installed, and a link
to a file the package lacks becomes its plain text, so no link in
/usr/share/doc/moxpanel leads nowhere.

    packaged_docs.py SOURCE_ROOT OUT_DIR PAGE=DEST... -- SOURCE=DEST...

PAGE=DEST: a Markdown file of the source tree and its name in OUT_DIR;
SOURCE=DEST: every file the package carries in its documentation folder
(the pages too), by its path in the source tree and in that folder.
"""
import os
import posixpath
import re
import sys

LINK = re.compile(r"(!?)\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\(([^()\s]+)\)")


def pairs(args):
    result = {}
    for arg in args:
        source, sep, dest = arg.partition("=")
        if not sep:
            sys.exit(f"packaged_docs: {arg} is not SOURCE=DEST")
        result[posixpath.normpath(source)] = posixpath.normpath(dest)
    return result


def rewrite(text, page, dest, shipped):
    def one(match):
        image, label, target = match.groups()
        if re.match(r"^[a-z]+:", target) or target.startswith("#"):
            return match.group(0)
        path, hash_, anchor = target.partition("#")
        source = posixpath.normpath(posixpath.join(posixpath.dirname(page), path))
        if source in shipped:
            there = posixpath.relpath(shipped[source], posixpath.dirname(dest) or ".")
            return f"{image}[{label}]({there}{hash_}{anchor})"
        return label  # not in the package: its words stay, the link goes
    return LINK.sub(one, text)


def main():
    if len(sys.argv) < 4 or "--" not in sys.argv:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    root, out = sys.argv[1], sys.argv[2]
    pages, shipped = pairs(sys.argv[3:split]), pairs(sys.argv[split + 1:])
    for page, dest in pages.items():
        with open(os.path.join(root, page), encoding="utf-8") as f:
            text = rewrite(f.read(), page, dest, shipped)
        target = os.path.join(out, dest)
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        with open(target + ".tmp", "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(target + ".tmp", target)


if __name__ == "__main__":
    main()
