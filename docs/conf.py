# Sphinx configuration of the libquarnelo manual. `make docs` builds it
# through CMake, which names the build's programs and libraries in the
# environment; the examples and reports run against them.
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
sys.path.insert(0, os.path.join(here, "_ext"))
sys.path.insert(0, os.path.join(root, "python"))

with open(os.path.join(root, "include", "quarnelo.h"), encoding="utf-8") as _header:
    release = re.search(r'#define QN_VERSION_STRING "([^"]+)"', _header.read()).group(1)
version = release
project = "libquarnelo"
copyright = "2026, The libquarnelo developers"
author = "The libquarnelo developers"

extensions = [
    "sphinx.ext.autodoc",
    "numpydoc",
    "breathe",
    "quarnelo_docs",
    "validation",
    "speed",
]

exclude_patterns = ["_build", "README.md"]
# Code blocks name their language; the headers' verbatim blocks are text.
highlight_language = "none"
# Options and quotes appear as typed (--cal-spl, not an en dash).
smartquotes = False
templates_path = []
html_theme = "alabaster"
html_static_path = ["_static"]
html_css_files = ["quarnelo.css"]
html_title = f"libquarnelo {release}"
html_theme_options = {"description": "Psychoacoustic sound-quality metrics", "fixed_sidebar": True,
                      "page_width": "1240px", "sidebar_width": "220px"}
html_sidebars = {"**": ["about.html", "navigation.html", "searchbox.html"]}
html_show_sourcelink = False
# No external resources: the manual reads offline.
html_use_opensearch = ""

autodoc_member_order = "bysource"
autodoc_typehints = "none"
numpydoc_show_class_members = False
numpydoc_validation_checks = set()

breathe_projects = {"quarnelo": os.environ.get("QUARNELO_DOXYGEN_XML", os.path.join(root, "build", "docs", "doxygen", "xml"))}
breathe_default_project = "quarnelo"
breathe_domain_by_extension = {"h": "c"}
breathe_show_include = False

# The build's programs and libraries (CMake sets these; the defaults are
# those of the build tree `build`).
_env = {
    "quarnelo_cli": "QUARNELO_CLI",
    "quarnelo_library": "QUARNELO_LIBRARY",
    "quarnelo_reference_cases": "QUARNELO_REFERENCE_CASES",
    "quarnelo_bench": "QUARNELO_BENCH",
    "quarnelo_build_type": "QUARNELO_BUILD_TYPE",
}
for _name, _variable in _env.items():
    if os.environ.get(_variable):
        globals()[_name] = os.environ[_variable]
if os.environ.get("QUARNELO_DOCS_WORK"):
    quarnelo_work_dir = os.path.join(os.environ["QUARNELO_DOCS_WORK"], "work")
    quarnelo_figure_dir = os.path.join(os.environ["QUARNELO_DOCS_WORK"], "figures")
