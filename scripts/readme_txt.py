#!/usr/bin/env python3
"""Turns the user's guide at the head of README.md into README.txt, plain text
for Notepad: ASCII, CRLF line ends, lines of 79 columns where the words allow.

    python3 scripts/readme_txt.py [README.md [README.txt]]

The guide ends at the line MARKER; what follows it is for developers and is
left out. Headings are underlined, emphasis and code marks dropped, links
written as "text (url)", images dropped, code blocks indented by 4 blanks and
tables laid out in columns (or as "heading: cell" lines when too wide).
"""
import html
import re
import sys
import textwrap

MARKER = "<!-- end of the user's guide -->"
KEEP = "\x02"  # a blank that wrapping keeps, made a blank again at the end
WIDTH = 79

# Typographic characters with an ASCII stand-in; any other non-ASCII fails.
ASCII = {"\u2013": "-", "\u2014": "--", "\u2212": "-", "\u2010": "-", "\u2011": "-",
         "\u2018": "'", "\u2019": "'", "\u201a": "'", "\u201c": '"', "\u201d": '"', "\u201e": '"',
         "\u2026": "...", "\u00a0": " ", "\u202f": " ", "\u2009": " ", "\u00d7": "x",
         "\u2192": "->", "\u2190": "<-", "\u2022": "*", "\u00b7": "*", "\u2264": "<=", "\u2265": ">=",
         "\u00a9": "(c)", "\u00ae": "(R)", "\u2122": "(TM)", "\ufeff": ""}

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
ATX = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
BREAK = re.compile(r"^ {0,3}([-*_])(?:[ \t]*\1){2,}[ \t]*$")
ITEM = re.compile(r"^( {0,3})([-*+]|\d{1,9}[.)])([ \t]+|$)")
QUOTE = re.compile(r"^ {0,3}> ?")
DELIMITER = re.compile(r"^ {0,3}\|?[ \t]*:?-+:?[ \t]*(\|[ \t]*:?-+:?[ \t]*)*\|?[ \t]*$")
REFERENCE = re.compile(r"^ {0,3}\[([^\]]+)\]:[ \t]*<?(\S+?)>?(?:[ \t]+[\"'(].*[\"')])?[ \t]*$")
HTML_BLOCK = re.compile(r"^ {0,3}</?[A-Za-z][^>]*>\s*$")


class Failure(Exception):
    pass


def to_ascii(text, where):
    out = []
    for char in text:
        if ord(char) < 128:
            out.append(char)
        elif char in ASCII:
            out.append(ASCII[char])
        else:
            raise Failure("%s: no ASCII stand-in for %r (U+%04X)" % (where, char, ord(char)))
    return "".join(out)


# Inline text.

def inline(text, links):
    """Markdown inline text as plain text."""
    parts = re.split(r"(`+)", text)
    out, at = [], 0
    while at < len(parts):
        part = parts[at]
        if at % 2 == 1:  # a run of backticks: a code span up to the same run
            closing = next((j for j in range(at + 2, len(parts), 2) if parts[j] == part), None)
            if closing is None:
                out.append(("text", part))
            else:
                code = "".join(parts[at + 1:closing])
                if code.strip() and code.startswith(" ") and code.endswith(" "):
                    code = code[1:-1]
                out.append(("code", code))
                at = closing
        else:
            out.append(("text", part))
        at += 1
    # A code span's blanks don't break a line: a path stays on one.
    return "".join(code.replace(" ", KEEP) if kind == "code" else plain(code, links) for kind, code in out)


def plain(text, links):
    escapes = {}

    def keep(match):
        escapes["\0%d\0" % len(escapes)] = match.group(1)
        return "\0%d\0" % (len(escapes) - 1)

    text = re.sub(r"\\([!-/:-@\[-`{-~])", keep, text)
    text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)                      # images
    text = re.sub(r"!\[[^\]]*\]\[[^\]]*\]", "", text)
    text = re.sub(r"\[([^\]]*)\]\(\s*<?([^)\s>]*)>?(?:\s+[\"'][^)]*[\"'])?\s*\)",
                  lambda m: link(m.group(1), m.group(2)), text)
    text = re.sub(r"\[([^\]]*)\]\[([^\]]*)\]",
                  lambda m: link(m.group(1), links.get((m.group(2) or m.group(1)).lower())), text)
    text = re.sub(r"\[([^\]]+)\](?![(\[:])",
                  lambda m: link(m.group(1), links.get(m.group(1).lower())) if m.group(1).lower() in links
                  else m.group(0), text)
    text = re.sub(r"<((?:https?|ftp|mailto):[^>\s]+)>", r"\1", text)        # autolinks
    text = re.sub(r"<([^@>\s]+@[^@>\s]+)>", r"\1", text)
    text = re.sub(r"<br\s*/?>", "\n", text, flags=re.I)
    text = re.sub(r"</?[A-Za-z][A-Za-z0-9-]*(?:\s[^<>]*)?/?>", "", text)   # other tags
    for mark in ("**", "__"):
        text = re.sub(r"(?<![\w%s])%s(?=\S)(.+?)(?<=\S)%s(?![\w%s])"
                      % (re.escape(mark[0]), re.escape(mark), re.escape(mark), re.escape(mark[0])),
                      r"\1", text)
    text = re.sub(r"(?<![\w*])\*(?=[^\s*])(.+?)(?<=[^\s*])\*(?![\w*])", r"\1", text)
    text = re.sub(r"(?<![\w_])_(?=[^\s_])(.+?)(?<=[^\s_])_(?![\w_])", r"\1", text)
    text = re.sub(r"~~(.+?)~~", r"\1", text)
    text = html.unescape(text)
    for key, value in escapes.items():
        text = text.replace(key, value)
    return text


def link(text, url):
    if not url:
        return text
    if url.startswith("mailto:"):
        url = url[len("mailto:"):]
    if not text or text == url:
        return url
    return "%s (%s)" % (text, url)


# Blocks: parsed into ("kind", ...) tuples, then rendered to lines.

def blank(line):
    return not line.strip()


def starts_block(line, lines_after):
    return bool(FENCE.match(line) or ATX.match(line) or BREAK.match(line) or QUOTE.match(line)
                or HTML_BLOCK.match(line) or (ITEM.match(line) and not blank(line[ITEM.match(line).end():]))
                or (lines_after and "|" in line and DELIMITER.match(lines_after[0])
                    and "-" in lines_after[0]))


def parse(lines):
    blocks, at = [], 0
    while at < len(lines):
        line = lines[at]
        if blank(line):
            at += 1
            continue
        fence = FENCE.match(line)
        if fence:
            mark, indent = fence.group(1), len(line) - len(line.lstrip(" "))
            body, at = [], at + 1
            while at < len(lines) and not re.match(r"^ {0,3}%s%s*[ \t]*$" % (re.escape(mark), mark[0]),
                                                      lines[at]):
                body.append(re.sub(r"^ {0,%d}" % indent, "", lines[at]))
                at += 1
            blocks.append(("code", body))
            at += 1
            continue
        if line.startswith("    ") or line.startswith("\t"):
            body = []
            while at < len(lines) and (blank(lines[at]) or lines[at].startswith("    ")
                                       or lines[at].startswith("\t")):
                body.append(lines[at][4:] if lines[at].startswith("    ") else lines[at][1:])
                at += 1
            while body and blank(body[-1]):
                body.pop()
            blocks.append(("code", body))
            continue
        heading = ATX.match(line)
        if heading:
            blocks.append(("heading", len(heading.group(1)), heading.group(2) or ""))
            at += 1
            continue
        if BREAK.match(line):
            blocks.append(("break",))
            at += 1
            continue
        if line.lstrip().startswith("<!--"):
            while at < len(lines) and "-->" not in lines[at]:
                at += 1
            at += 1
            continue
        if HTML_BLOCK.match(line):
            at += 1
            continue
        if QUOTE.match(line):
            body = []
            while at < len(lines) and not blank(lines[at]):
                body.append(QUOTE.sub("", lines[at], count=1))
                at += 1
            blocks.append(("quote", parse(body)))
            continue
        if ITEM.match(line):
            at = parse_list(lines, at, blocks)
            continue
        if "|" in line and at + 1 < len(lines) and DELIMITER.match(lines[at + 1]) and "-" in lines[at + 1]:
            rows = [cells(line), cells(lines[at + 1])]
            at += 2
            while at < len(lines) and not blank(lines[at]) and "|" in lines[at]:
                rows.append(cells(lines[at]))
                at += 1
            aligns = ["right" if c.endswith(":") and not c.startswith(":")
                      else "center" if c.startswith(":") and c.endswith(":") else "left" for c in rows[1]]
            blocks.append(("table", rows[0], aligns, rows[2:]))
            continue
        if REFERENCE.match(line):
            at += 1
            continue
        body = [line]
        at += 1
        while at < len(lines) and not blank(lines[at]):
            if SETEXT.match(lines[at]) and not ITEM.match(lines[at]):
                level = 1 if lines[at].strip()[0] == "=" else 2
                blocks.append(("heading", level, " ".join(s.strip() for s in body)))
                body = None
                at += 1
                break
            if starts_block(lines[at], lines[at + 1:]) and not re.match(r"^ {0,3}\d+[.)]", lines[at]):
                break
            body.append(lines[at])
            at += 1
        if body is not None:
            blocks.append(("paragraph", body))
    return blocks


def parse_list(lines, at, blocks):
    first = ITEM.match(lines[at])
    ordered = first.group(2)[-1] in ".)"
    start = int(first.group(2)[:-1]) if ordered else None

    def same_list(line):
        """An item of this list: the same bullet, or the same number delimiter."""
        item = ITEM.match(line)
        return item and item.group(2)[-1] == first.group(2)[-1]

    items, loose = [], False
    while at < len(lines):
        item = ITEM.match(lines[at])
        if not same_list(lines[at]):
            break
        rest = lines[at][item.end():]
        column = item.end() if rest.strip() else len(item.group(1)) + len(item.group(2)) + 1
        body, at = [rest.expandtabs(4)], at + 1
        while at < len(lines):
            line = lines[at]
            if blank(line):
                ahead = next((l for l in lines[at:] if not blank(l)), None)
                if ahead is None or len(ahead) - len(ahead.lstrip(" ")) < column:
                    break
                body.append("")
            elif len(line) - len(line.lstrip(" ")) >= column:
                body.append(line[column:])
            elif ITEM.match(line) or starts_block(line, lines[at + 1:]) or blank(body[-1]):
                break
            else:  # a lazy continuation of the paragraph
                body.append(line.strip())
            at += 1
        items.append(parse(body))
        # Blank lines between this item and the next make the list loose.
        gap = at
        while gap < len(lines) and blank(lines[gap]):
            gap += 1
        if gap == len(lines) or not same_list(lines[gap]):
            break
        loose = loose or gap > at
        at = gap
    blocks.append(("list", start, items, loose))
    return at


def cells(row):
    row = row.strip()
    if row.startswith("|"):
        row = row[1:]
    if row.endswith("|") and not row.endswith("\\|"):
        row = row[:-1]
    return [cell.strip().replace("\\|", "|") for cell in re.split(r"(?<!\\)\|", row)]


def wrap(text, width, first="", rest=""):
    out = []
    for piece in text.split("\n"):
        piece = " ".join(piece.split())
        out += textwrap.wrap(piece, width=max(width, 20), initial_indent=first, subsequent_indent=rest,
                             break_long_words=False, break_on_hyphens=False) or [first.rstrip()]
        first = rest
    return out


def render(blocks, links, width, tight=False):
    """Lines of the blocks, a blank between two; in a tight list's item only
    around code blocks."""
    out = []
    for number, block in enumerate(blocks):
        kind = block[0]
        if out and out[-1] != "" and (not tight or "code" in (kind, blocks[number - 1][0])):
            out.append("")
        if kind == "heading":
            text = " ".join(inline(block[2], links).split())
            rule = "=" if block[1] <= 2 else "-"
            if block[1] == 1:
                out.append(rule * len(text))
            out += [text, rule * len(text)]
        elif kind == "paragraph":
            # A line ending in two blanks or a backslash is a hard break.
            text = " ".join(re.sub(r"(  +|\\)$", "\x01", l.lstrip()) for l in block[1])
            text = inline(text, links).replace("\x01 ", "\n").replace("\x01", "")
            if text.strip():  # a paragraph of images only is left out
                out += wrap(text, width)
        elif kind == "code":
            out += ["    " + l.expandtabs(4) if l.strip() else "" for l in block[1]]
        elif kind == "quote":
            out += [("> " + l).rstrip() for l in render(block[1], links, width - 2)]
        elif kind == "list":
            start, items, loose = block[1:]
            for index, item in enumerate(items):
                mark = "%d. " % (start + index) if start is not None else "- "
                if start is not None:
                    mark = mark.ljust(len("%d. " % (start + len(items) - 1)))
                lines = render(item, links, width - len(mark), not loose) or [""]
                out += [(mark if n == 0 else " " * len(mark)) + l if l else "" for n, l in enumerate(lines)]
                if (loose or item[-1][0] == "code") and index + 1 < len(items):
                    out.append("")
        elif kind == "table":
            out += table(block[1], block[2], block[3], links, width)
        elif kind == "break":
            out.append("-" * 20)
    while out and out[-1] == "":
        out.pop()
    return out


def table(head, aligns, rows, links, width):
    columns = len(head)
    head = [" ".join(inline(c, links).split()) for c in head]
    rows = [[" ".join(inline(c, links).split()) for c in (row + [""] * columns)[:columns]] for row in rows]
    # A column left empty in every row, say one of pictures, goes.
    keep = [c for c in range(columns) if any(row[c] for row in rows) or not rows]
    head, aligns = [head[c] for c in keep], [(aligns + ["left"] * columns)[c] for c in keep]
    rows = [[row[c] for c in keep] for row in rows]
    sizes = [max(len(cell) for cell in column) for column in zip(head, *rows)]
    if sum(sizes) + 2 * (len(sizes) - 1) <= width:
        def line(row):
            laid = [cell.rjust(size) if align == "right" else cell.center(size) if align == "center"
                    else cell.ljust(size) for cell, size, align in zip(row, sizes, aligns)]
            return "  ".join(laid).rstrip()
        return [line(head), "  ".join("-" * size for size in sizes)] + [line(row) for row in rows]
    out = []
    for row in rows:
        if out:
            out.append("")
        for name, cell in zip(head, row):
            if cell:
                out += wrap(cell, width, (name + ": ") if name else "", "    ")
    return out


def convert(markdown, where="README.md"):
    lines = markdown.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    if MARKER not in [line.strip() for line in lines]:
        raise Failure("%s: no line %s ends the user's guide" % (where, MARKER))
    lines = lines[:[line.strip() for line in lines].index(MARKER)]
    lines = [to_ascii(line, "%s:%d" % (where, number)) for number, line in enumerate(lines, 1)]
    links = {m.group(1).lower(): m.group(2) for m in map(REFERENCE.match, lines) if m}
    text = render(parse(lines), links, WIDTH)
    text = [to_ascii(line, where).replace(KEEP, " ").rstrip() for line in text]
    return ("\r\n".join(text) + "\r\n").encode("ascii")


def main(argv):
    source = argv[1] if len(argv) > 1 else "README.md"
    with open(source, encoding="utf-8") as file:
        text = file.read()
    try:
        data = convert(text, source)
    except Failure as failure:
        sys.exit("readme_txt: %s" % failure)
    if len(argv) > 2:
        with open(argv[2], "wb") as file:
            file.write(data)
    else:
        sys.stdout.buffer.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
