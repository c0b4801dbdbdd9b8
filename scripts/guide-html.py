#!/usr/bin/env python3
"""One of the guides, docs/NAME.md, as a page a Windows user opens with a
double click: rendered by GitHub's own Markdown reader (cmark-gfm, with
its tables), each heading given the anchor GitHub gives it, so that links
between the guides work as they do in the repository, and links to the
other guide made links to its page.

A guide in the release links only to itself, to the other guides and to
the pictures shipped beside them: any other relative link would lead
nowhere in the zip, and is refused with its target named.

Usage: guide-html.py docs/NAME.md OUT.html"""
import html
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from markdown_headings import heading_anchors  # noqa: E402

# What ships beside the guides in the release's docs folder.
SHIPPED = {"technician.md", "host-developer.md", "keytest-window.png", "keytest-window-first.png",
           "keytest-window-load-failed.png", "keytest-window-found.png", "keytest-window-stopped.png"}
STYLE = """body { font-family: "Segoe UI", sans-serif; max-width: 60em; margin: 1em auto; padding: 0 1em;
       line-height: 1.45; color: #1f2328; }
code, pre { font-family: Consolas, monospace; background: #f3f4f6; }
code { padding: 0 .2em; }
pre { padding: .6em; overflow-x: auto; }
pre code { padding: 0; }
table { border-collapse: collapse; margin: .6em 0; }
th, td { border: 1px solid #d0d7de; padding: .25em .6em; vertical-align: top; text-align: left; }
th { background: #f6f8fa; }
img { max-width: 100%; }"""


def convert(source):
    body = subprocess.run(["cmark-gfm", "-e", "table", "-e", "autolink", source], check=True,
                          capture_output=True, text=True).stdout
    anchors = iter(heading_anchors(source))
    body = re.sub(r"<h([1-6])>", lambda m: '<h%s id="%s">' % (m.group(1), next(anchors)), body)
    problems = []

    def link(m):
        attribute, target = m.group(1), html.unescape(m.group(2))
        if re.match(r"^[a-z]+:", target) or target.startswith("#"):
            return m.group(0)
        file_part, sep, anchor = target.partition("#")
        if os.path.basename(file_part) not in SHIPPED or os.path.dirname(file_part) not in ("", "."):
            problems.append(target)
            return m.group(0)
        page = re.sub(r"\.md$", ".html", os.path.basename(file_part))
        return '%s="%s"' % (attribute, html.escape(page + sep + anchor))

    body = re.sub(r'(href|src)="([^"]*)"', link, body)
    if problems:
        raise SystemExit("guide-html.py: %s links to what the release doesn't hold beside it: %s"
                         % (source, ", ".join(problems)))
    title = re.search(r"<h1[^>]*>(.*?)</h1>", body, re.S)
    title = re.sub(r"<[^>]+>", "", title.group(1)) if title else os.path.basename(source)
    return ('<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>%s</title>\n'
            '<style>\n%s\n</style>\n</head>\n<body>\n%s</body>\n</html>\n' % (title, STYLE, body))


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: guide-html.py docs/NAME.md OUT.html")
    page = convert(sys.argv[1])
    with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as out:
        out.write(page)


if __name__ == "__main__":
    main()
