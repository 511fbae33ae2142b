"""Doxygen input filter: the public headers' plain comments as documentation.

The headers are written to be read as they are, with plain C comments
above each declaration. For the manual, Doxygen reads them through this
filter (INPUT_FILTER), so the headers stay as they are:

- the file's first comment describes the file;
- a banner comment (a line of dashes, a heading, an optional text) opens a
  group (a Doxygen module) of that title, closed by the next banner: group
  N of quarnelo.h is quarnelo_N;
- a comment directly above a declaration documents it;
- a comment after an enumerator, a field or a #define documents that;
- other comments (before preprocessor lines, or apart from any code) stay
  plain.

A comment's first paragraph becomes text; the rest (argument lists, check
orders) stays verbatim, laid out as in the header.
"""

import re
import sys

_BANNER = re.compile(r"^/\* -{10,}\s*$")
_RULE = re.compile(r"^-{10,}$")
# Code a trailing comment documents: an enumerator, a field, a #define.
_MEMBER = re.compile(r"^\s*(#define\s+\w+.*|\w+\s*=\s*[^;{}]*|[^{}#]*;)\s*$")
_SPECIAL = re.compile(r"([\\@<>&#%$])")


def _escape(text):
    return _SPECIAL.sub(r"\\\1", text)


def _text(block):
    """A comment's lines without /*, */ and the leading ' * '."""
    lines = []
    for k, line in enumerate(block):
        if k == 0:
            line = line.split("/*", 1)[1]
        else:
            line = re.sub(r"^\s*\*(?!/) ?", "", line)
        if k == len(block) - 1:
            line = line.rsplit("*/", 1)[0]
        lines.append(line.rstrip())
    while lines and not lines[0].strip():
        lines.pop(0)
    while lines and not lines[-1].strip():
        lines.pop()
    if lines:
        lines[0] = lines[0].strip()
    return lines


def _join(lines):
    """Lines of a paragraph as one line; a word broken at a hyphen
    ("frame-" / "count") stays whole."""
    text = ""
    for t in (t.strip() for t in lines):
        text += t if text.endswith("-") and text[-2:-1].isalpha() else (" " + t if text else t)
    return text


def _documentation(lines, command=""):
    """A Doxygen comment: the first paragraph as text, the rest verbatim."""
    split = next((k for k, t in enumerate(lines) if not t.strip()), len(lines))
    first = _join(lines[:split])
    if command == "@file ":
        # "quarnelo.h - what it is": the file's name, then its brief.
        name, _, brief = first.partition(" - ")
        command, first = "@file " + name + "\n", brief
    out = ["/** " + command + _escape(first)]
    rest = lines[split + 1:]
    if rest:
        out += ["@verbatim"] + rest + ["@endverbatim"]
    return out + [" */"]


def group_prefix(path):
    """The prefix of the groups of a header: quarnelo_files.h gives
    quarnelo_files; group N of it is quarnelo_files_N."""
    return re.sub(r"\W", "_", path.rsplit("/", 1)[-1].rsplit(".", 1)[0])


def banners(source):
    """The headings of a header's banner comments, in order: group N is
    the N-th (from 1)."""
    found = []
    lines = source.split("\n")
    for i, line in enumerate(lines):
        if _BANNER.match(line.strip()):
            heading = lines[i + 1].strip().lstrip("*").strip()
            found.append(heading)
    return found


def filter_header(source, prefix):
    lines = source.split("\n")
    out = []
    groups = 0
    group_open = False
    seen_comment = False
    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if stripped.startswith("/*"):
            end = i
            while "*/" not in (lines[end] if end > i else lines[end][lines[end].index("/*") + 2:]):
                end += 1
            block = lines[i:end + 1]
            following = lines[end + 1].strip() if end + 1 < len(lines) else ""
            text = _text(block)
            if not seen_comment:
                out += _documentation(text, "@file ")
            elif _BANNER.match(stripped):
                inner = [t for t in text if not _RULE.match(t.strip())]
                while len(inner) > 1 and not inner[1].strip():
                    inner.pop(1)
                if group_open:
                    out.append("/** @} */")
                groups += 1
                out += [f"/** @defgroup {prefix}_{groups} " + (inner[0].strip() if inner else "")]
                out += [_escape(t) for t in inner[1:]]
                out += ["@{ */"]
                group_open = True
            elif following and not following.startswith(("#if", "#endif", "#else", "#include", "/*")):
                out += _documentation(text)
            else:
                out += block
            seen_comment = True
            i = end + 1
            continue
        if "/*" in line:
            code, comment = line.split("/*", 1)
            if _MEMBER.match(code) and not code.strip().startswith(("}", "#endif", "#if", "#else")):
                out.append(code + "/**<" + comment)
                i += 1
                continue
        if stripped.startswith("#ifdef __cplusplus") and group_open and i > len(lines) - 12:
            # The end of the declarations: close the last group.
            out.append("/** @} */")
            group_open = False
        out.append(line)
        i += 1
    return "\n".join(out)


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        sys.stdout.write(filter_header(f.read(), group_prefix(sys.argv[1])))
