#!/usr/bin/env python3
"""Machine snapshot of a Wine prefix, and the difference of two snapshots.

  snapshot.py take PREFIX OUT.json [--tree WINPATH]... [--key HIVE\\PATH]...
  snapshot.py diff A.json B.json [--ignore PATTERN]...

A snapshot holds the registry below the selected roots (every key with its
values) and every file and folder below the selected trees (size, SHA-256 of
the content, kind). Paths are keyed in a case-folded form, because Windows
compares them without case, and keep their original spelling for messages.

Wine writes its registry files lazily: make the wineserver of the prefix save
them first (see snapshot.sh, `snapshot_take`).
"""

import argparse
import hashlib
import json
import os
import re
import stat
import sys

FORMAT_VERSION = 1

REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 0, 1, 2, 3, 4
REG_LINK, REG_MULTI_SZ, REG_QWORD = 6, 7, 11
TYPE_NAMES = {
    0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD",
    5: "REG_DWORD_BIG_ENDIAN", 6: "REG_LINK", 7: "REG_MULTI_SZ", 8: "REG_RESOURCE_LIST",
    9: "REG_FULL_RESOURCE_DESCRIPTOR", 10: "REG_RESOURCE_REQUIREMENTS_LIST", 11: "REG_QWORD",
}

# Registry files of a prefix and the hive each one holds.
HIVE_FILES = (("system.reg", "HKLM"), ("user.reg", "HKCU"), ("userdef.reg", "HKU\\.Default"))

ROOT_ALIASES = {
    "HKEY_LOCAL_MACHINE": "HKLM", "HKLM": "HKLM",
    "HKEY_CURRENT_USER": "HKCU", "HKCU": "HKCU",
    "HKEY_USERS": "HKU", "HKU": "HKU",
    "HKEY_CLASSES_ROOT": "HKCR", "HKCR": "HKCR",
}

DEFAULT_KEYS = (
    "HKLM\\Software",
    "HKLM\\System\\CurrentControlSet\\Services",
    "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment",
    "HKCU",
)

# What Wine changes by itself, measured with snapshots taken around runs of
# `cmd /c exit`, `reg query`, `hostname`, `notepad`, `wineboot -r` and an
# msiexec install and removal in fresh and used 64-bit prefixes (Wine 8.0):
# only the entries below changed. Key timestamps and #time lines are never
# recorded, so they need no entry. Wine created no file of its own in the
# temporary folders in those runs, so no file pattern is listed. Each entry is
# a pattern as --ignore takes it; docs/snapshot.md explains them.
BUILTIN_IGNORES = (
    # Written by the first boot of a new prefix and dropped by the next
    # start, which lists the host's network adapters here again as volatile
    # keys (not saved). The adapters are the host's, not the product's.
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
)


class RegistryError(Exception):
    """A registry file that does not follow Wine's format; the message names
    the file and line."""


def fold(path):
    """The form in which Windows compares a path: without case."""
    return path.lower()


# ---------------------------------------------------------------------------
# Reader of Wine's registry files.
#
#   file     := "WINE REGISTRY Version 2" NL { line NL }
#   line     := "" | ";" comment | "#" option | key-line | value-line
#   option   := "arch=" word | "time=" hex | "class=" quoted | "link"
#   key-line := "[" text-with-escapes "]" [ " " seconds ]
#   value    := ( quoted | "@" ) "=" data
#   data     := quoted                          REG_SZ
#             | "str(" hex "):" quoted          that type, a NUL-terminated text
#             | "dword:" 8*hex                  REG_DWORD
#             | "hex:" bytes                    REG_BINARY
#             | "hex(" hex "):" bytes           that type, raw bytes
#   bytes    := [ hh { "," [ "\" NL spaces ] hh } ]   a trailing "\" continues
#   quoted   := '"' text-with-escapes '"'
#   escapes  := "\\" "\"" "\[" "\]" \a \b \t \n \v \f \r \e, octal "\0".."\377",
#               "\x" and 1 to 4 hex digits (a UTF-16 unit); any other escaped
#               character stands for itself.
#
# Wine writes a key only when it has values, a class, is a link or has no
# subkeys; its ancestors exist implicitly and the reader adds them.
# ---------------------------------------------------------------------------

_SIMPLE_ESCAPES = {"a": "\a", "b": "\b", "t": "\t", "n": "\n", "v": "\v", "f": "\f", "r": "\r", "e": "\x1b"}


def unescape(text, start, terminator):
    """Reads escaped text from text[start:] up to the unescaped terminator.
    Returns (value, index after the terminator) or None when it is missing."""
    out = []
    i = start
    n = len(text)
    while i < n:
        c = text[i]
        if c == terminator:
            return "".join(out), i + 1
        if c != "\\":
            out.append(c)
            i += 1
            continue
        i += 1
        if i >= n:
            return None
        c = text[i]
        if c in _SIMPLE_ESCAPES:
            out.append(_SIMPLE_ESCAPES[c])
            i += 1
        elif c == "x":
            match = re.compile(r"[0-9a-fA-F]{1,4}").match(text, i + 1)
            if not match:
                out.append("x")
                i += 1
            else:
                out.append(chr(int(match.group(0), 16)))
                i = match.end()
        elif c in "01234567":
            match = re.compile(r"[0-7]{1,3}").match(text, i)
            out.append(chr(int(match.group(0), 8)))
            i = match.end()
        else:
            out.append(c)
            i += 1
    return None


def _text_bytes(text):
    """A Windows string as the bytes the registry stores: UTF-16LE. Wine's
    \\x escapes give UTF-16 units, so lone surrogates must survive."""
    return text.encode("utf-16-le", "surrogatepass")


def _decode_hex(text, where):
    text = text.strip()
    if not text:
        return b""
    try:
        return bytes(int(part.strip(), 16) for part in text.split(","))
    except ValueError:
        raise RegistryError("%s: bad hex data %r" % (where, text[:40]))


def parse_value_data(data, where):
    """(type, raw bytes) of the text after "=" of a value line."""
    if data.startswith('"'):
        parsed = unescape(data, 1, '"')
        if parsed is None:
            raise RegistryError("%s: unterminated string" % where)
        return REG_SZ, _text_bytes(parsed[0] + "\0")
    match = re.match(r"str\(([0-9a-fA-F]+)\):\"", data)
    if match:
        parsed = unescape(data, match.end(), '"')
        if parsed is None:
            raise RegistryError("%s: unterminated string" % where)
        return int(match.group(1), 16), _text_bytes(parsed[0] + "\0")
    if data.startswith("dword:"):
        try:
            number = int(data[6:].strip(), 16)
        except ValueError:
            raise RegistryError("%s: bad dword %r" % (where, data[6:]))
        return REG_DWORD, number.to_bytes(4, "little")
    if data.startswith("hex:"):
        return REG_BINARY, _decode_hex(data[4:], where)
    match = re.match(r"hex\(([0-9a-fA-F]+)\):", data)
    if match:
        return int(match.group(1), 16), _decode_hex(data[match.end():], where)
    raise RegistryError("%s: unknown value data %r" % (where, data[:40]))


def parse_registry_text(text, name="<registry>"):
    """Parses a Wine registry file. Returns an ordered dict
    {path: {"values": {value name: (type, bytes)}, "link": bool}} with paths
    relative to the file's hive, in their original spelling."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the newline that ends the last line
    if not lines or lines[0].rstrip("\r") != "WINE REGISTRY Version 2":
        raise RegistryError("%s:1: not a Wine registry file" % name)
    keys = {}
    current = None
    i = 1
    while i < len(lines):
        line_number = i + 1
        line = lines[i].rstrip("\r")
        i += 1
        where = "%s:%d" % (name, line_number)
        if not line or line.startswith(";"):
            continue
        if line.startswith("#"):
            if line == "#link" and current is not None:
                current["link"] = True
            continue  # #time, #class, #arch: nothing that a diff compares
        if line.startswith("["):
            parsed = unescape(line, 1, "]")
            if parsed is None:
                raise RegistryError("%s: key name without ']'" % where)
            current = keys.setdefault(parsed[0], {"values": {}, "link": False})
            continue
        if current is None:
            raise RegistryError("%s: value outside a key" % where)
        if line.startswith("@="):
            value_name, rest = "", line[2:]
        elif line.startswith('"'):
            parsed = unescape(line, 1, '"')
            if parsed is None or not line[parsed[1]:].startswith("="):
                raise RegistryError("%s: bad value name" % where)
            value_name, rest = parsed[0], line[parsed[1] + 1:]
        else:
            raise RegistryError("%s: unexpected line %r" % (where, line[:40]))
        # Hex data continues on the next line after a trailing backslash.
        while rest.endswith("\\") and re.match(r"hex(\([0-9a-fA-F]+\))?:", rest):
            if i >= len(lines):
                raise RegistryError("%s: continuation at the end of the file" % where)
            rest = rest[:-1] + lines[i].rstrip("\r").strip()
            i += 1
        current["values"][value_name] = parse_value_data(rest, where)
    return keys


def value_data(value_type, raw):
    """The JSON form of a value's data, the same whichever way the file wrote
    it (str(2):"x" and hex(2):78,00,00,00 are one value): text for
    NUL-terminated string kinds, a list for multi-strings, a number for
    DWORD/QWORD of the right size, otherwise {"hex": "..."}."""
    if value_type in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) and len(raw) >= 2 and len(raw) % 2 == 0 \
            and raw[-2:] == b"\0\0":
        text = raw[:-2].decode("utf-16-le", "surrogatepass")
        if value_type != REG_MULTI_SZ:
            return text
        # A multi-string is a list of strings, each ending with a NUL, and one
        # more NUL: "a\0b\0\0". Anything else keeps its bytes.
        items = text.split("\0")
        if items[-1] == "":
            return items[:-1]
    if value_type == REG_DWORD and len(raw) == 4:
        return int.from_bytes(raw, "little")
    if value_type == REG_QWORD and len(raw) == 8:
        return int.from_bytes(raw, "little")
    return {"hex": raw.hex()}


def format_value(value):
    """A value's type and data as a diff line shows them."""
    value_type, data = value["type"], value["data"]
    type_name = TYPE_NAMES.get(value_type, "type 0x%x" % value_type)
    if isinstance(data, dict):
        shown = "hex:" + ",".join(data["hex"][i:i + 2] for i in range(0, len(data["hex"]), 2))
    elif isinstance(data, list):
        shown = "[" + ", ".join(json.dumps(item, ensure_ascii=False) for item in data) + "]"
    elif isinstance(data, int):
        shown = "0x%08x (%d)" % (data, data) if value_type == REG_DWORD else "0x%016x (%d)" % (data, data)
    else:
        shown = json.dumps(data, ensure_ascii=False)
    return "%s %s" % (type_name, shown)


# ---------------------------------------------------------------------------
# Registry paths: root names, the 32-bit view, links.
# ---------------------------------------------------------------------------

def split_root(path):
    """(root alias, view, rest) of a key path such as HKEY_LOCAL_MACHINE\\Software
    or HKLM32\\Software; view is 32, 64 or None (the native view)."""
    head, _, rest = path.partition("\\")
    view = None
    upper = head.upper()
    if upper[-2:] in ("32", "64") and upper[:-2] in ROOT_ALIASES:
        view = int(upper[-2:])
        upper = upper[:-2]
    if upper not in ROOT_ALIASES:
        raise ValueError("unknown registry root %r in %r" % (head, path))
    return ROOT_ALIASES[upper], view, rest


def _join(*parts):
    return "\\".join(part for part in parts if part)


def _insert_after(rest, prefix_parts, node):
    """rest with node inserted after its first len(prefix_parts) components
    when they match prefix_parts (without case); None otherwise."""
    parts = rest.split("\\") if rest else []
    if [fold(p) for p in parts[:len(prefix_parts)]] != [fold(p) for p in prefix_parts]:
        return None
    if len(parts) > len(prefix_parts) and fold(parts[len(prefix_parts)]) == "wow6432node":
        return rest  # already a path of the 32-bit view
    return _join(*(parts[:len(prefix_parts)] + [node] + parts[len(prefix_parts):]))


def key_locations(path):
    """Where a key path lives in a 64-bit prefix, as a list of full paths with
    the roots HKLM, HKCU and HKU. HKCR is the merge of HKLM\\Software\\Classes
    and HKCU\\Software\\Classes. A root ending in 32 (HKLM32, HKCR32, HKCU32)
    names the 32-bit view: HKLM\\Software\\X is HKLM\\Software\\Wow6432Node\\X,
    classes are under Software\\Classes\\Wow6432Node, and the rest of HKCU and
    everything outside Software are shared by both views."""
    root, view, rest = split_root(path)
    if root == "HKCR":
        locations = [_join("HKLM\\Software\\Classes", rest), _join("HKCU\\Software\\Classes", rest)]
        if view == 32:
            return [_join(location.split("\\", 1)[0], _insert_after(location.split("\\", 1)[1],
                                                                    ["Software", "Classes"], "Wow6432Node"))
                    for location in locations]
        return locations
    if view == 32:
        classes = _insert_after(rest, ["Software", "Classes"], "Wow6432Node")
        if classes is not None:
            return [_join(root, classes)]
        if root == "HKLM":
            software = _insert_after(rest, ["Software"], "Wow6432Node")
            if software is not None:
                return [_join(root, software)]
    return [_join(root, rest)]


def link_target(raw):
    """The key a link points to (its SymbolicLinkValue, an NT path) in the
    form HKLM\\..., HKCU\\... or HKU\\...; None when it is not understood."""
    text = raw.decode("utf-16-le", "surrogatepass").rstrip("\0")
    parts = text.split("\\")
    if len(parts) < 3 or fold(parts[1]) != "registry":
        return None
    if fold(parts[2]) == "machine":
        return _join("HKLM", *parts[3:])
    if fold(parts[2]) == "user" and len(parts) > 3:
        if fold(parts[3]) == ".default":
            return _join("HKU\\.Default", *parts[4:])
        return _join("HKCU", *parts[4:])
    return None


def resolve_links(path, links):
    """path with every leading part that is a link key replaced by the link's
    target, as Windows follows links when a key is opened."""
    for _ in range(16):  # link chains are short; a loop must end
        parts = path.split("\\")
        for count in range(len(parts), 0, -1):
            target = links.get(fold("\\".join(parts[:count])))
            if target:
                path = _join(target, *parts[count:])
                break
        else:
            return path
    return path


# ---------------------------------------------------------------------------
# Taking a snapshot.
# ---------------------------------------------------------------------------

def read_hives(prefix):
    """{folded full path: (original full path, parsed key)} of every key in
    the prefix's registry files, with implicit ancestors added, and the link
    map {folded link path: target path}."""
    keys, links = {}, {}
    for file_name, hive in HIVE_FILES:
        file_path = os.path.join(prefix, file_name)
        if not os.path.exists(file_path):
            continue
        with open(file_path, encoding="utf-8", errors="surrogateescape") as stream:
            parsed = parse_registry_text(stream.read(), file_path)
        for relative, key in parsed.items():
            full = _join(hive, relative)
            keys[fold(full)] = (full, key)
            if key["link"] and "SymbolicLinkValue" in key["values"]:
                target = link_target(key["values"]["SymbolicLinkValue"][1])
                if target:
                    links[fold(full)] = target
            parts = full.split("\\")
            for count in range(len(parts) - 1, 0, -1):
                ancestor = "\\".join(parts[:count])
                if fold(ancestor) in keys:
                    break
                keys[fold(ancestor)] = (ancestor, {"values": {}, "link": False})
    return keys, links


def _under(folded_path, folded_root):
    return folded_path == folded_root or folded_path.startswith(folded_root + "\\")


def snapshot_registry(prefix, key_paths):
    keys, links = read_hives(prefix)
    roots = []
    for key_path in key_paths:
        for location in key_locations(key_path):
            resolved = resolve_links(location, links)
            if fold(resolved) not in [fold(root) for root in roots]:
                roots.append(resolved)
    folded_roots = [fold(root) for root in roots]
    registry = {}
    for folded in sorted(keys):
        if not any(_under(folded, root) for root in folded_roots):
            continue
        full, key = keys[folded]
        values = {}
        for name, (value_type, raw) in key["values"].items():
            values[fold(name)] = {"name": name, "type": value_type, "data": value_data(value_type, raw)}
        registry[folded] = {"path": full, "values": values}
    return roots, registry


def _find_case_insensitive(directory, name):
    """The spelling of name in directory that Wine would open: the exact name,
    else the one equal without case; None when there is none."""
    if os.path.lexists(os.path.join(directory, name)):
        return name
    try:
        entries = os.listdir(directory)
    except OSError:
        return None
    for entry in sorted(entries):
        if fold(entry) == fold(name):
            return entry
    return None


def unix_path(prefix, windows_path):
    """(Unix path, Windows path as spelled on disk) of a Windows path in the
    prefix; the drive is found through PREFIX/dosdevices. The Unix path is
    None when the file does not exist."""
    match = re.match(r"^([A-Za-z]):\\?(.*)$", windows_path)
    if not match:
        raise ValueError("not a Windows path with a drive letter: %r" % windows_path)
    drive = match.group(1).upper() + ":"
    current = os.path.join(prefix, "dosdevices", drive.lower())
    spelled = [drive]
    missing = False
    for part in [p for p in match.group(2).split("\\") if p]:
        found = None if missing else _find_case_insensitive(current, part)
        if found is None:
            missing = True
            spelled.append(part)
            continue
        spelled.append(found)
        current = os.path.join(current, found)
    windows = spelled[0] + "\\" + "\\".join(spelled[1:])
    return (None if missing or not os.path.lexists(current) else current), windows


def _sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def snapshot_tree(prefix, windows_path, files):
    """Adds the tree's root and everything below it to files."""
    location, spelled = unix_path(prefix, windows_path)
    if location is None:
        return spelled

    def record(unix, windows):
        info = os.lstat(unix)
        if stat.S_ISLNK(info.st_mode):
            entry = {"path": windows, "kind": "link", "target": os.readlink(unix)}
        elif stat.S_ISDIR(info.st_mode):
            entry = {"path": windows, "kind": "folder"}
        else:
            entry = {"path": windows, "kind": "file", "size": info.st_size, "sha256": _sha256(unix)}
        files[fold(windows)] = entry
        if entry["kind"] == "folder":
            for name in sorted(os.listdir(unix)):
                record(os.path.join(unix, name), windows.rstrip("\\") + "\\" + name)

    record(location, spelled)
    return spelled


def take(prefix, trees, key_paths):
    roots, registry = snapshot_registry(prefix, key_paths or DEFAULT_KEYS)
    files = {}
    spelled_trees = [snapshot_tree(prefix, tree, files) for tree in trees]
    return {"format": FORMAT_VERSION, "prefix": os.path.abspath(prefix), "keys": roots,
            "trees": spelled_trees, "registry": registry, "files": files}


# ---------------------------------------------------------------------------
# Comparing two snapshots.
# ---------------------------------------------------------------------------

def value_path(key_path, value_name):
    """How a value is named to ignore patterns: KEY\\NAME, the default value
    as KEY\\(default)."""
    return key_path + "\\" + (value_name if value_name else "(default)")


def compile_pattern(pattern):
    """Regular expressions for a glob-like pattern: * is any text (also across
    backslashes), ? one character; no case. A registry pattern is spelled
    with any root name and view (HKEY_CLASSES_ROOT, HKCR32, ...) and matches
    each place the key lives."""
    try:
        locations = key_locations(pattern)
    except ValueError:
        locations = [pattern]
    expressions = []
    for location in locations:
        text = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c) for c in fold(location))
        expressions.append(re.compile(text, re.DOTALL))
    return expressions


class Ignores:
    """An item is ignored when a pattern matches its path or the path of
    one of its parents (so a key's pattern covers its values and subkeys)."""

    def __init__(self, patterns):
        self.expressions = [e for pattern in patterns for e in compile_pattern(pattern)]

    def match(self, path):
        folded = fold(path)
        candidates = [folded]
        index = folded.find("\\")
        while index >= 0:
            candidates.append(folded[:index])
            index = folded.find("\\", index + 1)
        return any(e.fullmatch(c) for e in self.expressions for c in candidates)


def _file_text(entry):
    if entry["kind"] == "file":
        return "%d bytes, sha256 %s" % (entry["size"], entry["sha256"][:16])
    if entry["kind"] == "link":
        return "link to %s" % entry["target"]
    return "folder"


def _file_line(change, entry):
    if entry["kind"] == "folder":
        return "%s folder %s" % (change, entry["path"])
    return "%s %s %s (%s)" % (change, entry["kind"], entry["path"], _file_text(entry))


def _pairs(old_items, new_items):
    """(old, new) for each folded path of either map, in order; the side
    where the path is missing is None."""
    for folded in sorted(set(old_items) | set(new_items)):
        yield old_items.get(folded), new_items.get(folded)


def diff(before, after, patterns=(), builtin=True):
    """The differences of two snapshots, one line each, sorted by path."""
    ignores = Ignores(list(patterns) + (list(BUILTIN_IGNORES) if builtin else []))
    lines = []
    for old, new in _pairs(before["registry"], after["registry"]):
        key = (new or old)["path"]
        if ignores.match(key):
            continue
        if old is None:
            lines.append("added key %s" % key)
        elif new is None:
            lines.append("removed key %s" % key)
        old_values = old["values"] if old else {}
        new_values = new["values"] if new else {}
        for old_value, new_value in _pairs(old_values, new_values):
            shown_name = (new_value or old_value)["name"]
            if ignores.match(value_path(key, shown_name)):
                continue
            label = "%s [%s]" % (key, shown_name if shown_name else "(default)")
            if old_value is None:
                lines.append("added value %s = %s" % (label, format_value(new_value)))
            elif new_value is None:
                lines.append("removed value %s = %s" % (label, format_value(old_value)))
            elif (old_value["type"], old_value["data"]) != (new_value["type"], new_value["data"]):
                lines.append("changed value %s: %s -> %s" % (label, format_value(old_value), format_value(new_value)))
    for old, new in _pairs(before["files"], after["files"]):
        path = (new or old)["path"]
        if ignores.match(path):
            continue
        if old is None:
            lines.append(_file_line("added", new))
        elif new is None:
            lines.append(_file_line("removed", old))
        elif dict(old, path="") != dict(new, path=""):
            lines.append("changed %s: %s -> %s" % (path, _file_text(old), _file_text(new)))
    return lines


# ---------------------------------------------------------------------------
# Command line.
# ---------------------------------------------------------------------------

def _load(path):
    with open(path, encoding="utf-8") as stream:
        snapshot = json.load(stream)
    if snapshot.get("format") != FORMAT_VERSION:
        raise ValueError("%s: not a snapshot of format %d" % (path, FORMAT_VERSION))
    return snapshot


def main(argv=None):
    parser = argparse.ArgumentParser(prog="snapshot.py", description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    take_parser = commands.add_parser("take", help="record the registry and file trees of a Wine prefix")
    take_parser.add_argument("prefix")
    take_parser.add_argument("output")
    take_parser.add_argument("--tree", action="append", default=[], metavar="WINPATH")
    take_parser.add_argument("--key", action="append", default=[], metavar="HIVE\\PATH")
    diff_parser = commands.add_parser("diff", help="print the differences of two snapshots")
    diff_parser.add_argument("before")
    diff_parser.add_argument("after")
    diff_parser.add_argument("--ignore", action="append", default=[], metavar="PATTERN")
    diff_parser.add_argument("--no-builtin-ignores", action="store_true",
                             help="also report what Wine changes by itself")
    arguments = parser.parse_args(argv)
    try:
        if arguments.command == "take":
            if not os.path.isfile(os.path.join(arguments.prefix, "system.reg")):
                raise ValueError("%s: no system.reg, not a Wine prefix" % arguments.prefix)
            snapshot = take(arguments.prefix, arguments.tree, arguments.key)
            with open(arguments.output, "w", encoding="utf-8") as stream:
                json.dump(snapshot, stream, indent=1, sort_keys=True)
            return 0
        before, after = _load(arguments.before), _load(arguments.after)
        for what in ("keys", "trees"):
            if [fold(p) for p in before[what]] != [fold(p) for p in after[what]]:
                print("snapshot.py: warning: the snapshots recorded different %s: %s and %s"
                      % (what, before[what], after[what]), file=sys.stderr)
        lines = diff(before, after, arguments.ignore, not arguments.no_builtin_ignores)
        for line in lines:
            print(line)
        return 1 if lines else 0
    except (OSError, ValueError, RegistryError) as error:
        print("snapshot.py: %s" % error, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
