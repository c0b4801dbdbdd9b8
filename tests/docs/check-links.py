#!/usr/bin/env python3
"""Checks the links and paths of the project's Markdown documents.

Usage: check-links.py [ROOT]   (ROOT: the source tree, default: two folders up)

Reads README.md and docs/*.md under ROOT and reports, with file and line:
  - a relative link or image whose file doesn't exist;
  - a link to an anchor (#name, or FILE.md#name) that no heading of that
    file makes, with anchors made as GitHub makes them: lower case, spaces
    to '-', punctuation dropped, a repeated heading numbered -1, -2, ...;
  - a path in inline code that starts with a folder of the source tree
    (src/, tests/, docs/, ...) and names nothing there. A file the build
    makes from a template (Zelbin_Serial.h from Zelbin_Serial.h.in) counts
    as there; build outputs (build/, dist/, releases/) and paths with a
    placeholder in capitals (include/NAME/) are not checked.
  - a path of some machine's own, anywhere in the text, code included:
    Wine's drive for the whole file system (Z:\) or a Unix home, work or
    scratch folder (/home/, /root/, /work/, /tmp/, /build/): examples show
    paths as a checkout or the release zip has them.
The same machine-path check reads CHANGELOG.md and the release's
README.txt template, which ship in the zip.
Links to other sites (http:, https:, mailto:) are not followed.
Exit status 0 when everything resolves, 1 otherwise.
"""
import os
import re
import sys

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
OUTPUTS = ("build/", "dist/", "releases/")
PLACEHOLDER = re.compile(r"(^|/)[A-Z_]{3,}(/|$)")  # include/NAME/: not a path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from markdown_headings import heading_anchors, lines_outside_fences  # noqa: E402

# A path of the machine a text was written on.
MACHINE_PATH = re.compile(r"\b[Zz]:\\|(?<![\w.~-])/(?:home|root|work|tmp|build)/")

_ANCHORS = {}


def anchors(path):
    """The anchors the headings of a Markdown file make."""
    if path not in _ANCHORS:
        _ANCHORS[path] = set(heading_anchors(path))
    return _ANCHORS[path]


def top_folders(root):
    return {
        name + "/"
        for name in os.listdir(root)
        if os.path.isdir(os.path.join(root, name)) and not name.startswith(".")
        and name + "/" not in OUTPUTS
    }


def check(root):
    docs = [os.path.join(root, "README.md")]
    docs_dir = os.path.join(root, "docs")
    if os.path.isdir(docs_dir):
        docs += sorted(
            os.path.join(docs_dir, n) for n in os.listdir(docs_dir) if n.endswith(".md")
        )
    folders = top_folders(root)
    problems = []
    links = paths = 0
    for doc in docs:
        where = os.path.relpath(doc, root)
        here = os.path.dirname(doc)
        for number, line in lines_outside_fences(doc):
            # Inline code first: a link inside it is text, not a link.
            for m in CODE_SPAN.finditer(line):
                word = m.group(2).strip().split()[0] if m.group(2).strip() else ""
                if not any(word.startswith(f) for f in folders) or PLACEHOLDER.search(word):
                    continue
                paths += 1
                target = os.path.join(root, word.rstrip("/"))
                if not (os.path.exists(target) or os.path.exists(target + ".in")):
                    problems.append(f"{where}:{number}: no such path in the tree: {word}")
            for m in LINK.finditer(CODE_SPAN.sub("", line)):
                target = m.group(1)
                if re.match(r"^[a-z]+:", target):
                    continue
                links += 1
                file_part, _, anchor = target.partition("#")
                linked = os.path.normpath(os.path.join(here, file_part)) if file_part else doc
                if not os.path.exists(linked):
                    problems.append(f"{where}:{number}: no such file: {target}")
                    continue
                if anchor and linked.endswith(".md") and anchor not in anchors(linked):
                    problems.append(f"{where}:{number}: no heading makes #{anchor} in "
                                    f"{os.path.relpath(linked, root)}")
    for text in docs + [os.path.join(root, "CHANGELOG.md"), os.path.join(root, "scripts", "release-readme.txt")]:
        if not os.path.exists(text):
            continue
        with open(text, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = MACHINE_PATH.search(line)
                if m:
                    problems.append(f"{os.path.relpath(text, root)}:{number}: a path of a machine's own: "
                                    f"{line.strip()}")
    for p in problems:
        print(p)
    print(f"{len(docs)} documents, {links} links, {paths} paths: "
          f"{len(problems)} not resolved")
    return not problems


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    sys.exit(0 if check(os.path.abspath(root)) else 1)
