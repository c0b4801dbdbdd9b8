"""The headings of a Markdown document and the anchors GitHub makes for
them, for the link check and for the guides' HTML, which must give each
heading the same anchor."""
import re

HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s*(```|~~~)")


def slug(heading):
    """The anchor GitHub makes for a heading's text: lower case, spaces to
    '-', punctuation dropped."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # links: their text
    text = text.replace("`", "").strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)  # \w keeps letters, digits and '_'
    return text.replace(" ", "-")


def lines_outside_fences(path):
    """Yields (line number, text) for every line not in a fenced code block."""
    fenced = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if FENCE.match(line):
                fenced = not fenced
                continue
            if not fenced:
                yield number, line.rstrip("\n")


def heading_anchors(path):
    """The anchor of each heading, in document order; a repeated heading is
    numbered -1, -2, ... as GitHub numbers it."""
    seen = {}
    found = []
    for _, line in lines_outside_fences(path):
        m = HEADING.match(line)
        if not m:
            continue
        base = slug(m.group(2))
        n = seen.get(base, 0)
        seen[base] = n + 1
        found.append(base if n == 0 else f"{base}-{n}")
    return found
