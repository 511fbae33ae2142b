"""Directives of the libquarnelo manual: everything a page shows about the
library comes from running it while the manual is built.

run-python    executes its code (one namespace per page), shows the code, what
              it prints and the figures it draws; ``:script:`` runs it as a
              script of its own instead (for Dask, whose workers import the
              script again).
run-shell     runs ``$ `` lines with the built ``quarnelo`` first on PATH and
              shows them with their output.
run-c         compiles a C program against the built library, runs it, and
              shows it with its output.
metric-facts  a metric's descriptor from the file layer's table: unit, single
              values, shortest signal, frame geometry.
quarnelo-help the command-line reference, from the tool's --help texts.
c-header      a public header through Doxygen and Breathe, family by family in
              the header's order; every exported function must appear.

Every example runs in the work directory (``quarnelo_work_dir``), where a
page's first hidden example makes the files the others read. A failing
example, a command that exits otherwise than expected, or a program that
does not compile is an error: the build fails (at its end, so that every
failure is reported).
"""

import contextlib
import io
import os
import shlex
import subprocess
import sys
import re
import traceback

from docutils import nodes
from docutils.parsers.rst import directives
from docutils.statemachine import StringList
from sphinx.errors import ExtensionError
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles

logger = logging.getLogger(__name__)


def _failure(directive, what):
    """Records a failed example; the build stops once every page is read."""
    env = directive.env
    failures = env.app.quarnelo_failures
    where = f"{env.docname}:{directive.lineno}"
    failures.append(f"{where}: {what}")
    logger.error("%s", what, location=(env.docname, directive.lineno))
    return [nodes.error("", nodes.literal_block(what, what))]


def _literal(text, language):
    node = nodes.literal_block(text, text)
    node["language"] = language
    return node


def _output(text):
    node = nodes.literal_block(text, text)
    node["language"] = "none"
    node["classes"].append("example-output")
    return node


class _Example(SphinxDirective):
    has_content = True
    option_spec = {"hide": directives.flag, "hide-output": directives.flag, "caption": directives.unchanged}

    @property
    def work_dir(self):
        path = self.config.quarnelo_work_dir
        os.makedirs(path, exist_ok=True)
        return path

    def environment(self):
        """The built tool, and this Python as python3, first on PATH."""
        env = dict(os.environ)
        bin_dir = os.path.join(self.work_dir, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        python = os.path.join(bin_dir, "python3")
        if not os.path.lexists(python):
            os.symlink(sys.executable, python)
        tool_dir = os.path.dirname(self.config.quarnelo_cli)
        env["PATH"] = os.pathsep.join([tool_dir, bin_dir, env.get("PATH", "")])
        env["MPLBACKEND"] = "Agg"
        return env

    def show(self, code, language, output):
        if "hide" in self.options:
            return []
        result = [_literal(code, language)]
        if output.strip() and "hide-output" not in self.options:
            result.append(_output(output.rstrip("\n")))
        return result


class RunPython(_Example):
    option_spec = dict(_Example.option_spec, script=directives.flag)

    def run(self):
        code = "\n".join(self.content)
        if "script" in self.options:
            path = os.path.join(self.work_dir, f"example_{self.env.docname.replace('/', '_')}_{self.lineno}.py")
            with open(path, "w", encoding="utf-8") as f:
                f.write(code + "\n")
            done = subprocess.run([sys.executable, os.path.basename(path)], cwd=self.work_dir,
                                  env=self.environment(), capture_output=True, text=True, timeout=600)
            if done.returncode != 0:
                return _failure(self, f"example exited with {done.returncode}:\n{code}\n{done.stderr}")
            return self.show(code, "python", done.stdout)

        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        namespaces = self.env.app.quarnelo_namespaces
        namespace = namespaces.setdefault(self.env.docname, {"__name__": "__example__"})
        plt.close("all")
        output = io.StringIO()
        previous = os.getcwd()
        try:
            os.chdir(self.work_dir)
            with contextlib.redirect_stdout(output):
                exec(compile(code, f"<{self.env.docname}:{self.lineno}>", "exec"), namespace)
        except Exception:  # noqa: BLE001 - any failure of the example is reported
            return _failure(self, f"example failed:\n{code}\n{traceback.format_exc()}")
        finally:
            os.chdir(previous)
        result = self.show(code, "python", output.getvalue())
        for number in plt.get_fignums():
            result += self.figure(plt.figure(number), len(result))
        plt.close("all")
        return result

    def figure(self, fig, index):
        name = f"{self.env.docname.replace('/', '-')}-{self.lineno}-{index}.png"
        path = os.path.join(self.config.quarnelo_figure_dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        fig.savefig(path, dpi=96, bbox_inches="tight")
        return _image(self, path, self.options.get("caption"))


def _image(directive, path, caption=None):
    """A figure of a file made during the build, anywhere on disk."""
    source_dir = os.path.dirname(directive.env.doc2path(directive.env.docname))
    relative = os.path.relpath(path, source_dir)
    lines = [f".. figure:: {relative}", "   :class: generated", ""]
    if caption:
        lines += ["   " + caption, ""]
    container = nodes.container()
    directive.state.nested_parse(StringList(lines, source="<generated>"), directive.content_offset, container)
    return container.children


class RunShell(_Example):
    option_spec = dict(_Example.option_spec, returncode=directives.nonnegative_int)

    def run(self):
        shown, failures = [], []
        expected = self.options.get("returncode", 0)
        for line in self.content:
            if not line.startswith("$ "):
                return _failure(self, f"run-shell: a line that is not a command ('$ ...'): {line}")
            command = line[2:]
            done = subprocess.run(["bash", "-c", command], cwd=self.work_dir, env=self.environment(),
                                  capture_output=True, text=True, timeout=600)
            shown.append(line)
            text = done.stdout + done.stderr
            if text.strip():
                shown.append(text.rstrip("\n"))
            if done.returncode != expected:
                failures.append(f"'{command}' exited with {done.returncode}, not {expected}:\n{text}")
        if failures:
            return _failure(self, "\n".join(failures))
        if "hide" in self.options:
            return []
        return [_literal("\n".join(shown), "console")]


class RunC(_Example):
    def run(self):
        code = "\n".join(self.content)
        base = os.path.join(self.work_dir, f"example_{self.env.docname.replace('/', '_')}_{self.lineno}")
        with open(base + ".c", "w", encoding="utf-8") as f:
            f.write(code + "\n")
        library_dir = os.path.dirname(self.config.quarnelo_library)
        command = ["cc", "-std=c99", "-Wall", "-Wextra", "-pedantic-errors", "-Werror",
                   "-I", self.config.quarnelo_include_dir, "-o", base, base + ".c",
                   "-L", library_dir, "-Wl,-rpath," + library_dir, "-l:" + os.path.basename(self.config.quarnelo_library),
                   "-lm"]
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            return _failure(self, f"C example does not compile:\n{shlex.join(command)}\n{done.stderr}")
        ran = subprocess.run([base], cwd=self.work_dir, capture_output=True, text=True, timeout=600)
        if ran.returncode != 0:
            return _failure(self, f"C example exited with {ran.returncode}:\n{ran.stdout}{ran.stderr}")
        return self.show(code, "c", ran.stdout)


def _table(header, rows, widths=None):
    """A docutils table of text cells (inline markup is parsed by callers
    that need it)."""
    table = nodes.table()
    group = nodes.tgroup(cols=len(header))
    table += group
    for width in widths or [1] * len(header):
        group += nodes.colspec(colwidth=width)
    head = nodes.thead()
    group += head
    body = nodes.tbody()
    group += body
    for cells, parent in [(header, head)] + [(r, body) for r in rows]:
        row = nodes.row()
        for cell in cells:
            entry = nodes.entry()
            entry += cell if isinstance(cell, nodes.Node) else nodes.paragraph(text=str(cell))
            row += entry
        parent += row
    return table


def _samples(n):
    return f"{n} samples ({n / 48000:.4g} s)"


class MetricFacts(SphinxDirective):
    """The facts of a metric as the file layer describes it to every front
    end, so a page cannot disagree with the tool."""

    required_arguments = 1

    def run(self):
        import quarnelo._files as files

        name = self.arguments[0]
        if name not in files.BY_NAME:
            return _failure(self, f"metric-facts: no metric '{name}' in the file layer's table "
                                  f"({', '.join(files.BY_NAME)})")
        m = files.BY_NAME[name]
        rows = [("Name (tool, Python, file layer)", name), ("Title", m["title"]),
                ("Shortest signal", _samples(m["min_samples"]))]
        if m["frame_length"]:
            rows.append(("Frames", f"{_samples(m['frame_length'])} long, one every {_samples(m['hop'])}"))
        elif m["hop"]:
            rows.append(("Frames", f"one every {_samples(m['hop'])}"))
        else:
            rows.append(("Frames", "none: one value for the whole signal"))
        if m["hop"]:
            rows.append(("Time of frame 0 in its series", f"{m['first_time']:g} s"))
        rows.append(("Sound field (--field)", "free or diffuse" if m["uses_field"] else "does not apply"))
        rows.append(("Single values", ", ".join(f"{q} ({u})" if u else q for q, u in m["quantities"])))
        return [_table(["", ""], rows, [1, 3])]


class QuarneloHelp(SphinxDirective):
    """The command-line reference: the tool's --help and each
    subcommand's, as the manual page has them."""

    def run(self):
        sys.path.insert(0, os.path.join(self.config.quarnelo_source_dir, "tools", "cli"))
        try:
            import help_to_man
        finally:
            sys.path.pop(0)
        try:
            manual = help_to_man.collect(self.config.quarnelo_cli)
        except Exception as error:  # noqa: BLE001
            return _failure(self, f"quarnelo --help: {error}")
        rst = []

        def describe(help_text):
            for line in help_text["description"]:
                rst.extend([_escape(line), ""])
            rst.extend(["::", "", "   " + help_text["usage"], ""])
            for heading, entries in help_text["sections"]:
                if heading == "Subcommands":
                    continue
                rst.extend([f"**{heading}**", ""])
                for entry in entries:
                    rst.append(f"``{entry['name']}``")
                    text = " ".join(entry["lines"]) or "\\ "
                    rst.append("   " + _escape(text))
                    if entry["items"]:
                        rst.append("")
                        rst.extend("   - " + _escape(item) for item in entry["items"])
                    rst.append("")

        describe(manual["top"])
        for name, command in manual["commands"]:
            rst.extend([f"quarnelo {name}", "~" * (9 + len(name)), ""])
            describe(command)
        node = nodes.section()
        node.document = self.state.document
        nested_parse_with_titles(self.state, StringList(rst, source="quarnelo --help"), node)
        return node.children


class CHeader(SphinxDirective):
    """A public header: its description, then each family (a banner of the
    header, a Doxygen group through doxygen_filter.py) with its
    declarations. A function the header exports that the page does not show
    is an error."""

    required_arguments = 1

    def run(self):
        sys.path.insert(0, os.path.join(self.config.quarnelo_source_dir, "docs"))
        try:
            import doxygen_filter
        finally:
            sys.path.pop(0)
        header = self.arguments[0]
        with open(os.path.join(self.config.quarnelo_source_dir, "include", header), encoding="utf-8") as f:
            source = f.read()
        prefix = doxygen_filter.group_prefix(header)
        xml = self.config.breathe_projects[self.config.breathe_default_project]
        rst = _file_description(xml, header)
        for number, title in enumerate(doxygen_filter.banners(source), 1):
            group = f"{prefix}_{number}"
            with open(os.path.join(xml, "group__" + group.replace("_", "__") + ".xml"), encoding="utf-8") as f:
                if "<memberdef" not in f.read():
                    continue  # e.g. the export macros, which the manual leaves out
            rst += [title, "~" * len(title), "", f".. doxygengroup:: {group}", "   :content-only:", ""]
        node = nodes.section()
        node.document = self.state.document
        nested_parse_with_titles(self.state, StringList(rst, source=header), node)
        shown = set()
        for signature in node.findall(lambda n: n.tagname == "desc_signature"):
            shown.update(i for i in signature.get("ids", []))
        exported = re.findall(r"^QNF?_API\b[^;(]*?\b(\w+)\s*\(", source, re.M)
        missing = [name for name in exported if "c." + name not in shown]
        if missing:
            return _failure(self, f"{header}: exported but not in the manual: {', '.join(missing)}")
        return node.children


def _file_description(xml, header):
    """The header's first comment, as Doxygen read it: its brief as text,
    the rest as it stands in the header."""
    import xml.etree.ElementTree as ElementTree

    name = header.replace("_", "__").replace(".", "_8") + ".xml"
    compound = ElementTree.parse(os.path.join(xml, name)).getroot().find("compounddef")
    brief = "".join(compound.find("briefdescription").itertext()).strip()
    rst = [_escape(brief), ""]
    for verbatim in compound.find("detaileddescription").iter("verbatim"):
        rst += ["::", ""] + ["   " + line if line.strip() else "" for line in verbatim.text.strip("\n").split("\n")]
        rst.append("")
    return rst


class PythonCoverage(SphinxDirective):
    """Placed at the end of the Python page: every name the package
    exports (``__all__``) must be documented on it."""

    required_arguments = 1

    def run(self):
        import importlib

        module = importlib.import_module(self.arguments[0])
        documented = {sig for sig in self.env.temp_data.get("quarnelo_signatures", ())}
        for node in self.state.document.findall(lambda n: n.tagname == "desc_signature"):
            documented.update(node.get("ids", []))
        missing = [name for name in module.__all__ if f"{module.__name__}.{name}" not in documented]
        if missing:
            return _failure(self, f"{module.__name__} exports names this page does not document: "
                                  f"{', '.join(missing)}")
        return []


def _escape(text):
    """Text of --help as reStructuredText: no markup of its own."""
    for ch in "\\*`|_":
        text = text.replace(ch, "\\" + ch)
    return text


def _check(app, exception):
    if exception is None and app.quarnelo_failures:
        raise ExtensionError("examples of the manual failed:\n" + "\n\n".join(app.quarnelo_failures))


def _reset(app, env, docname):
    app.quarnelo_namespaces.pop(docname, None)


def setup(app):
    here = os.path.dirname(os.path.abspath(__file__))
    build = os.path.join(here, "..", "..", "build")
    app.add_config_value("quarnelo_source_dir", os.path.abspath(os.path.join(here, "..", "..")), "env")
    app.add_config_value("quarnelo_work_dir", os.path.join(build, "docs", "work"), "env")
    app.add_config_value("quarnelo_figure_dir", os.path.join(build, "docs", "figures"), "env")
    app.add_config_value("quarnelo_cli", os.path.join(build, "tools", "cli", "quarnelo"), "env")
    app.add_config_value("quarnelo_library", os.path.join(build, "src", "libquarnelo.so.1"), "env")
    app.add_config_value("quarnelo_include_dir", os.path.join(here, "..", "..", "include"), "env")
    app.quarnelo_failures = []
    app.quarnelo_namespaces = {}
    app.add_directive("run-python", RunPython)
    app.add_directive("run-shell", RunShell)
    app.add_directive("run-c", RunC)
    app.add_directive("metric-facts", MetricFacts)
    app.add_directive("quarnelo-help", QuarneloHelp)
    app.add_directive("c-header", CHeader)
    app.add_directive("python-coverage", PythonCoverage)
    app.connect("env-purge-doc", _reset)
    app.connect("build-finished", _check)
    return {"version": "1", "parallel_read_safe": False}
