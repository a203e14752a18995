#!/usr/bin/env python3
"""Lists the longest function bodies of the repository's C++ sources.

    tools/longest_functions.py [-n COUNT] [FOLDER ...]

Looks at every .cpp, .cc, .h and .hpp file under the given folders (the whole repository when
none is given; build folders and .git are skipped) and prints the COUNT longest function
definitions (15 unless told otherwise) as "lines  file:line  name", longest first. A function's
lines run from the first line of its declaration to its closing brace. Test bodies written with
macros such as TEST(...) count as functions too.

The reading is lexical, not a compiler's: comments, string and character literals are blanked,
then every brace is matched and a brace opened at namespace or class level after a parameter
list is taken as a function body. That is enough for code formatted as this repository is.
"""

import argparse
import os
import re
import sys

EXTENSIONS = (".cpp", ".cc", ".h", ".hpp")
SKIPPED_FOLDERS = {".git", "build", "node_modules"}


def blank_literals(text):
    """Comments, strings and character literals become spaces; line breaks stay."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_paren = text.find("(", i)
            delimiter = text[i + 2:open_paren]
            end = text.find(")" + delimiter + '"', open_paren)
            end = n if end < 0 else end + len(delimiter) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:end]))
            i = end
        elif c in "\"'":
            # A digit separator (1'000) is no character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parameter_list_end(head):
    """Offset just past the parameter list of a declaration head, or -1."""
    depth = 0
    for index, c in enumerate(head):
        if c == "(":
            if depth == 0 and "=" in head[:index] and "operator" not in head[:index]:
                return -1  # an initialiser, not a declaration
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return index + 1
    return -1


def function_name(head):
    """The name before the parameter list of a declaration head."""
    before = head[: head.index("(")].rstrip()
    operator = re.search(r"([\w:~]*operator\s*(\(\)|[^\s\w(]+|\w+))$", head[: head.find("(", head.find("operator") + 9)] if "operator" in head else "")
    if operator:
        return re.sub(r"\s+", "", operator.group(1))
    name = re.search(r"([\w:~]+)$", before)
    if name is None:
        return None
    if name.group(1).isupper():  # a test macro: its arguments say which test
        close = parameter_list_end(head)
        return re.sub(r"\s+", " ", head[head.index(name.group(1)) : close])
    return name.group(1)


QUALIFIERS = re.compile(r"^[\s\w&*:<>,\-]*$")


def classify(head):
    """("container" | "function" | "initialiser" | "other", name) for the head of a brace."""
    if head.startswith("template"):
        head = re.sub(r"^template\s*<.*?>\s*(?=[A-Za-z_])", "", head, flags=re.S)
    if re.match(r"^(.*\s)?(namespace|class|struct|union|enum)\b", head) and not head.endswith(")"):
        return "container", None
    if re.match(r'^extern\s*""$', head):
        return "container", None
    close = parameter_list_end(head)
    if close < 0:
        return "other", None
    rest = head[close:].strip()
    if rest.startswith(":"):
        # A constructor's initialiser list; a brace after a member name initialises it.
        if re.search(r"[\w>]$", rest):
            return "initialiser", None
    elif not QUALIFIERS.match(rest):
        return "other", None
    name = function_name(head)
    return ("function", name) if name else ("other", None)


def functions_in(path, text):
    clean = blank_literals(text)
    line_starts = [0]
    for match in re.finditer("\n", clean):
        line_starts.append(match.end())

    def line_of(offset):
        low, high = 0, len(line_starts) - 1
        while low < high:
            middle = (low + high + 1) // 2
            if line_starts[middle] <= offset:
                low = middle
            else:
                high = middle - 1
        return low + 1

    found = []
    stack = []  # each open brace: (kind, offset of its head, name)
    head_start = 0
    i, n = 0, len(clean)
    while i < n:
        c = clean[i]
        if c == "{":
            kind, name = "other", None
            head = clean[head_start:i]
            if all(k == "container" for k, _, _ in stack):
                kind, name = classify(head.strip())
            if kind == "initialiser":
                depth = 0
                while i < n:
                    depth += {"{": 1, "}": -1}.get(clean[i], 0)
                    if depth == 0:
                        break
                    i += 1
                i += 1
                continue
            stack.append((kind, head_start + len(head) - len(head.lstrip()), name))
            head_start = i + 1
        elif c == "}":
            if stack:
                kind, offset, name = stack.pop()
                if kind == "function":
                    start, end = line_of(offset), line_of(i)
                    found.append((end - start + 1, path, start, name))
            head_start = i + 1
        elif c == ";":
            head_start = i + 1
        elif c == "#" and clean[line_starts[line_of(i) - 1] : i].strip() == "":
            # A preprocessor line, with its continuations.
            end = i
            while True:
                end = clean.find("\n", end)
                if end < 0 or clean[end - 1] != "\\":
                    break
                end += 1
            i = n if end < 0 else end
            head_start = i
            continue
        elif c == ":" and re.fullmatch(r"\s*(public|private|protected)\s*", clean[head_start:i]):
            head_start = i + 1
        i += 1
    return found


def source_files(roots):
    for root in roots:
        if os.path.isfile(root):
            yield root
            continue
        for folder, subfolders, files in os.walk(root):
            subfolders[:] = sorted(
                d for d in subfolders if d not in SKIPPED_FOLDERS and not d.startswith("build")
            )
            for name in sorted(files):
                if name.endswith(EXTENSIONS):
                    yield os.path.join(folder, name)


def main():
    parser = argparse.ArgumentParser(description="Lists the longest C++ functions.")
    parser.add_argument("-n", "--count", type=int, default=15)
    parser.add_argument("folders", nargs="*")
    args = parser.parse_args()
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    roots = args.folders or [top]
    everything = []
    for path in source_files(roots):
        with open(path, encoding="utf-8", errors="replace") as f:
            everything.extend(functions_in(os.path.relpath(path, top), f.read()))
    everything.sort(key=lambda f: (-f[0], f[1], f[2]))
    for lines, path, line, name in everything[: args.count]:
        print(f"{lines:5d}  {path}:{line}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
