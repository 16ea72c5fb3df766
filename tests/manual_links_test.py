#!/usr/bin/env python3
"""Checks the HTML manual that the help window shows.

The help window reads the pages from the folder beside the program, offline: every link
between pages must lead to a page of the folder (and to an anchor that exists there), every
page must be reachable from index.html, and nothing may need a script or a resource from
elsewhere.

Usage: manual_links_test.py MANUAL_FOLDER
"""

import html.parser
import pathlib
import sys
import urllib.parse


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.anchors = set()
        self.links = []  # (line, href)
        self.stylesheets = []  # (line, href)
        self.problems = []  # (line, text)
        self.title = ""
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        line = self.getpos()[0]
        a = dict(attrs)
        if a.get("id"):
            self.anchors.add(a["id"])
        if tag == "a" and a.get("name"):
            self.anchors.add(a["name"])
        if tag == "a" and "href" in a:
            self.links.append((line, a["href"] or ""))
        if tag == "link":
            # The one stylesheet of the manual, a file of its folder.
            if a.get("rel") != "stylesheet" or _leaves_folder(a.get("href") or ""):
                self.problems.append((line, "<link> other than the manual's stylesheet"))
            else:
                self.stylesheets.append((line, a["href"]))
        if tag in ("script", "iframe", "object", "embed", "form"):
            self.problems.append((line, "<%s> has no place in the manual" % tag))
        for name, value in attrs:
            if name.startswith("on"):
                self.problems.append((line, "script attribute %s" % name))
            if name in ("src", "background") and value and _leaves_folder(value):
                self.problems.append((line, "%s=%r is not a file of the manual" % (name, value)))
            if name == "style" and value and "url(" in value:
                self.problems.append((line, "style with url() fetches a resource"))
        if tag == "title":
            self._in_title = True

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False

    def handle_data(self, data):
        if self._in_title:
            self.title += data


def _leaves_folder(ref):
    parts = urllib.parse.urlsplit(ref)
    return bool(parts.scheme or parts.netloc or parts.path.startswith("/")
                or ".." in parts.path.split("/"))


def check(folder):
    errors = []
    pages = {}
    for path in sorted(folder.glob("*.html")):
        page = Page()
        page.feed(path.read_text(encoding="utf-8"))
        page.close()
        pages[path.name] = page
        if not page.title.strip():
            errors.append("%s: no <title>" % path.name)
        for line, text in page.problems:
            errors.append("%s:%d: %s" % (path.name, line, text))
        for line, href in page.stylesheets:
            if not (folder / urllib.parse.unquote(href)).is_file():
                errors.append("%s:%d: stylesheet %r is not in the manual" % (path.name, line, href))
    if "index.html" not in pages:
        return ["%s: no index.html" % folder]

    edges = {name: set() for name in pages}
    for name, page in pages.items():
        for line, href in page.links:
            where = "%s:%d: link %r" % (name, line, href)
            if not href:
                errors.append(where + " is empty")
                continue
            if _leaves_folder(href):
                errors.append(where + " leaves the manual (the help window works offline)")
                continue
            parts = urllib.parse.urlsplit(href)
            target = urllib.parse.unquote(parts.path) or name
            if target not in pages:
                errors.append(where + " names no page of the manual")
                continue
            edges[name].add(target)
            fragment = urllib.parse.unquote(parts.fragment)
            if fragment and fragment not in pages[target].anchors:
                errors.append(where + " names no anchor of %s" % target)

    reached, todo = set(), ["index.html"]
    while todo:
        name = todo.pop()
        if name not in reached:
            reached.add(name)
            todo.extend(edges[name])
    for name in sorted(set(pages) - reached):
        errors.append("%s: no link leads to it from index.html" % name)
    return errors


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    folder = pathlib.Path(sys.argv[1])
    errors = check(folder)
    for e in errors:
        print(e)
    pages = len(list(folder.glob("*.html")))
    print("%d pages checked, %d problems" % (pages, len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
