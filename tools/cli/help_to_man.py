"""The quarnelo tool's --help texts as a manual page.

    python3 help_to_man.py TOOL OUTPUT.1

runs the built tool's --help, and each subcommand's, and writes them as a
roff manual page. The manual's command-line reference is built from the same
texts (``collect``), so the page, the reference and --help cannot disagree.
Only the standard library is used.
"""

import re
import subprocess
import sys

NAME = "quarnelo"


def _help(tool, *args):
    # argv[0] is the name the texts should show, not the build path.
    done = subprocess.run([NAME, *args, "--help"], executable=tool, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{tool} {' '.join(args)} --help exited with {done.returncode}: {done.stderr.strip()}")
    return done.stdout


def parse(text):
    """One --help text: its description (lines), usage, and sections, each
    a (heading, entries) pair; an entry is a dict with the option's
    ``name`` and ``lines`` of description, indented lines being ``items``
    (lists within the description, such as the metrics)."""
    lines = text.rstrip("\n").split("\n")
    description, usage, sections = [], "", []
    entry = None
    for line in lines:
        if not usage:
            if line.startswith("Usage: "):
                usage = line[len("Usage: "):].strip()
            elif line.strip():
                description.append(line.strip())
            continue
        if not line.strip():
            continue
        if not line.startswith(" ") and line.endswith(":"):
            sections.append((line[:-1], []))
            entry = None
            continue
        if not sections:
            raise ValueError(f"--help: text outside a section: {line!r}")
        indent = len(line) - len(line.lstrip(" "))
        if indent == 2:
            # The option, padded to column 30, and its description; a longer
            # option has its description on the following lines.
            if len(line) > 30 and line[29] == " " and line[30] != " ":
                name, rest = line[:30], line[30:]
            else:
                name, _, rest = line.strip().partition("  ")
            entry = {"name": name.strip(), "lines": [], "items": []}
            if rest.strip():
                entry["lines"].append(rest.strip())
            sections[-1][1].append(entry)
        elif entry is None:
            raise ValueError(f"--help: continuation without an option: {line!r}")
        elif entry["lines"] and indent > 30:
            entry["items"].append(line.strip())
        else:
            entry["lines"].append(line.strip())
    if not usage:
        raise ValueError("--help: no usage line")
    for heading, entries in sections:
        if not entries:
            raise ValueError(f"--help: section {heading!r} is empty")
    return {"description": description, "usage": usage, "sections": sections}


def collect(tool):
    """The tool's help and that of every subcommand, parsed: a dict with
    ``top`` and ``commands``, a list of (name, help) pairs in the tool's
    order."""
    top = parse(_help(tool))
    commands = []
    for heading, entries in top["sections"]:
        if heading == "Subcommands":
            commands = [(e["name"], parse(_help(tool, e["name"]))) for e in entries]
    if not commands:
        raise ValueError("--help lists no subcommands")
    return {"top": top, "commands": commands}


def summary(manual):
    """The one-line summary of the tool, from the first line of its help
    ("quarnelo - psychoacoustic metrics of audio files: ...")."""
    first = manual["top"]["description"][0]
    if first.startswith(NAME + " - "):
        first = first[len(NAME) + 3:]
    return re.split(r"[:.]", first, maxsplit=1)[0].strip()


def _roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text[:1] in (".", "'"):
        text = "\\&" + text
    return text


def _bold_usage(usage):
    return "\\fB" + _roff(NAME) + "\\fR" + _roff(usage[len(NAME):]) if usage.startswith(NAME) else _roff(usage)


def _entries(out, entries):
    for entry in entries:
        out.append(".TP")
        out.append("\\fB" + _roff(entry["name"]) + "\\fR")
        out.append(_roff(" ".join(entry["lines"])) if entry["lines"] else "")
        for item in entry["items"]:
            out.append(".br")
            out.append("\\(bu " + _roff(item))


def man_page(manual, version):
    top = manual["top"]
    out = [f'.TH {NAME.upper()} 1 "" "{NAME} {version}" "User Commands"',
           ".SH NAME", f"{NAME} \\- {_roff(summary(manual))}",
           ".SH SYNOPSIS", ".nf"]
    out += [_bold_usage(command["usage"]) for _, command in manual["commands"]]
    out.append(".fi")
    out.append(".SH DESCRIPTION")
    for line in top["description"]:
        out += [".PP", _roff(line)]
    for heading, entries in top["sections"]:
        if heading == "Subcommands":
            continue
        out.append(".SH " + _roff(heading.upper()))
        _entries(out, entries)
    out.append(".SH COMMANDS")
    for name, command in manual["commands"]:
        out += [".SS " + _roff(name), _roff(" ".join(command["description"])), ".PP", _bold_usage(command["usage"])]
        for heading, entries in command["sections"]:
            out += [".PP", "\\fI" + _roff(heading) + "\\fR"]
            _entries(out, entries)
    return "\n".join(out) + "\n"


def _version(tool):
    done = subprocess.run([NAME, "--version"], executable=tool, capture_output=True, text=True, check=True)
    match = re.search(r"(\d+\.\d+\.\d+)", done.stdout)
    return match.group(1) if match else ""


def main(argv):
    if len(argv) != 3:
        print("usage: help_to_man.py TOOL OUTPUT.1", file=sys.stderr)
        return 2
    tool, output = argv[1], argv[2]
    page = man_page(collect(tool), _version(tool))
    with open(output, "w", encoding="utf-8") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
