"""Every local link and resource of the manual's HTML exists.

    python3 check_links.py HTML_DIR

Follows every href and src of every page that is not an external URL: the
file must exist, and a #fragment must name an element of it. Exit status 1
lists what is broken.
"""

import os
import sys
from html.parser import HTMLParser
from urllib.parse import unquote, urlsplit


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.ids, self.links = set(), []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ("id", "name"):
            if attrs.get(name):
                self.ids.add(attrs[name])
        for name in ("href", "src"):
            if attrs.get(name) is not None:
                self.links.append((tag, attrs[name]))


def parse(path, cache):
    path = os.path.abspath(path)
    if path not in cache:
        page = Page()
        with open(path, encoding="utf-8") as f:
            page.feed(f.read())
        cache[path] = page
    return cache[path]


def main(root):
    cache, broken, checked = {}, [], 0
    for directory, _, files in os.walk(root):
        for name in sorted(files):
            if not name.endswith(".html"):
                continue
            path = os.path.join(directory, name)
            for tag, link in parse(path, cache).links:
                parts = urlsplit(link)
                if parts.scheme or parts.netloc or link.startswith("javascript:"):
                    continue
                checked += 1
                target = os.path.normpath(os.path.join(directory, unquote(parts.path))) if parts.path else path
                where = f"{os.path.relpath(path, root)}: <{tag}> {link}"
                if not os.path.exists(target):
                    broken.append(f"{where}: no such file")
                elif os.path.isdir(target):
                    if not os.path.exists(os.path.join(target, "index.html")):
                        broken.append(f"{where}: a directory without index.html")
                elif parts.fragment and target.endswith(".html") and parts.fragment not in parse(target, cache).ids:
                    broken.append(f"{where}: no element #{parts.fragment}")
    print(f"check_links: {checked} local links in {len(cache)} pages, {len(broken)} broken")
    for line in broken:
        print("  " + line)
    if not cache:
        print(f"check_links: no pages under {root}")
        return 1
    return 1 if broken else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: check_links.py HTML_DIR", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
