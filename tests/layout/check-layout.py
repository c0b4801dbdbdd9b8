#!/usr/bin/env python3
"""The folders' rules, checked on the tree and on CMake's own target graph:

- what ships (include/ and src/) includes and links nothing of what only
  tests use (testing/, tests/, fuzz/, bench/);
- the UART register model is a component of its own (src/uart) that the
  comm-port io.dll, the key tester and the simulator all build on;
- the simulated COM devices (testing/comdevices) implement the comm-port
  io.dll's device interface and build on it, not the other way round;
- io.dll's interface is declared once, in include/IoDll.h, and the
  comm-port io.dll's status exports and record in its own header,
  include/CommPortIo.h;
- the shipped components stand in layers, each including and linking
  only the components it builds on (LAYERS): the key library on its
  platform binding alone (src/library, src/platform); the tools on the
  UART model, the comm-port io.dll, the port set-up and option reading
  (src/uart, src/commio, src/portsetup, src/cmdline), and of the key
  library on its port choice alone, never on the library itself;
- no CMake file adds a folder to a target's include path by an absolute or
  climbing path: each target names its own include folder, and gets the
  others' by linking them.

The includes of every shipped file are resolved as the compiler would,
against its own folder and every include folder CMake gives any target.
The graph comes from CMake's file API (a codemodel-v2 reply in BUILD_DIR).

Usage: check-layout.py SOURCE_DIR BUILD_DIR [--self-test]
With --self-test, includes that break the rules are planted in a copy of
the tree (the simulator in the comm-port io.dll; a layer above from the
port set-up, the platform binding and the key library), and the check must
find each.
Prints 'N passed, N failed'."""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SHIPPED = ("include", "src")
TEST_ONLY = ("testing", "tests", "fuzz", "bench")
SOURCES = (".h", ".hpp", ".c", ".cpp", ".in", ".S", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*["<]([^">]+)[">]', re.M)


# What a build, a release or git makes in the source tree; never walked. Only
# the tree itself is: no link is followed out of it (a Wine prefix in a
# build folder links to / as its drive Z:).
GENERATED = ("build", "dist", "releases", ".git")


def project_files(root, predicate):
    """The files of the source tree whose names the predicate accepts."""
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in GENERATED and not os.path.islink(os.path.join(folder, d))]
        for name in files:
            if predicate(name):
                yield os.path.join(folder, name)


def under(path, root, folders):
    rel = os.path.relpath(os.path.realpath(path), os.path.realpath(root))
    return not rel.startswith("..") and rel.split(os.sep)[0] in folders


def codemodel(build):
    pattern = os.path.join(build, ".cmake", "api", "v1", "reply", "index-*.json")
    if not glob.glob(pattern):
        # The query is written while the first configure runs, too late for
        # that run's reply: configure once more, in place.
        subprocess.run(["cmake", build], stdout=subprocess.DEVNULL, check=True)
    replies = sorted(glob.glob(pattern))
    if not replies:
        raise SystemExit("no CMake file API reply in %s" % build)
    reply_dir = os.path.dirname(replies[-1])
    index = json.load(open(replies[-1]))
    model = next(o for o in index["objects"] if o["kind"] == "codemodel")
    data = json.load(open(os.path.join(reply_dir, model["jsonFile"])))
    source_root = data["paths"]["source"]
    targets = {}
    for entry in data["configurations"][0]["targets"]:
        target = json.load(open(os.path.join(reply_dir, entry["jsonFile"])))
        targets[target["id"]] = target
    return source_root, targets


def include_dirs(targets):
    dirs = []
    for target in targets.values():
        for group in target.get("compileGroups", []):
            for include in group.get("includes", []):
                if include["path"] not in dirs:
                    dirs.append(include["path"])
    return dirs


def includes_of(top, dirs):
    """(file, included name, the files it may resolve to) for every include of
    every source file below `top`, resolved as the compiler would: against
    the file's own folder, then every include folder."""
    for folder, _, files in os.walk(top):
        for name in files:
            if not name.endswith(SOURCES):
                continue
            path = os.path.join(folder, name)
            for included in INCLUDE.findall(open(path, errors="replace").read()):
                yield path, included, [os.path.join(d, included) for d in [folder] + dirs
                                       if os.path.isfile(os.path.join(d, included))]


def check_includes(root, dirs, build, problems):
    """Every quoted include of a shipped file resolves, and not into a test-only folder."""
    for top in SHIPPED:
        for path, included, found in includes_of(os.path.join(root, top), dirs):
            where = os.path.relpath(path, root)
            if not found and '"' + included + '"' not in open(path, errors="replace").read():
                continue  # <...>: a system header, on none of the project's include folders
            if not found:
                problems.append('%s includes "%s", which no include folder holds' % (where, included))
            elif any(under(f, root, TEST_ONLY) for f in found):
                problems.append('%s includes "%s" from a test-only folder (%s)' % (
                    where, included, os.path.relpath(found[0], root)))
            elif not all(under(f, root, SHIPPED) or under(f, build, ("include",)) for f in found):
                problems.append('%s includes "%s" from outside the shipped folders' % (where, included))


# Each shipped component, and the components it builds on: its files may
# include their headers and its targets link their targets, never those of
# any other component. The public headers (include/) and the stack guard
# (src/hardening) are below them all.
LAYERS = {
    "src/platform": (),
    "src/library": ("src/platform",),
    "src/uart": (),
    "src/cmdline": (),
    "src/commio": ("src/uart",),
    "src/portsetup": ("src/uart", "src/commio", "src/library"),
    "src/keytest": ("src/uart", "src/commio", "src/portsetup", "src/library", "src/cmdline"),
}
# Of the key library, the tools include its port choice alone (the four
# standard ports and the rule for a base, which the DLL uses the same way).
ONLY = {"src/library": "src/library/include/library/PortChoice.h"}


def rel_path(path, root):
    return os.path.relpath(os.path.realpath(path), os.path.realpath(root)).replace(os.sep, "/")


def layer_of(path, root):
    rel = rel_path(path, root)
    for layer in LAYERS:
        if rel == layer or rel.startswith(layer + "/"):
            return layer
    return None


def check_layers(root, dirs, problems):
    """No shipped component includes a header of one it doesn't build on."""
    for layer, below in LAYERS.items():
        for path, included, found in includes_of(os.path.join(root, layer), dirs):
            other = layer_of(found[0], root) if found else None
            where = os.path.relpath(path, root)
            if other is None or other == layer:
                continue
            if other not in below:
                problems.append('%s includes "%s" from %s, which %s does not build on' % (
                    where, included, other, layer))
            elif other in ONLY and rel_path(found[0], root) != ONLY[other]:
                problems.append('%s includes "%s" from %s, which it builds on for %s alone' % (
                    where, included, other, ONLY[other]))


def check_graph(root, targets, problems):
    by_name = {t["name"]: t for t in targets.values()}

    def folder(target):
        return os.path.join(root, target["paths"]["source"])

    def closure(target):
        seen, todo = set(), [d["id"] for d in target.get("dependencies", [])]
        while todo:
            dep = todo.pop()
            if dep in seen or dep not in targets:
                continue
            seen.add(dep)
            todo.extend(d["id"] for d in targets[dep].get("dependencies", []))
        return [targets[d] for d in seen]

    for target in targets.values():
        if not under(folder(target), root, SHIPPED):
            continue
        for dep in closure(target):
            if under(folder(dep), root, TEST_ONLY):
                problems.append("shipped target %s depends on %s from %s" % (
                    target["name"], dep["name"], dep["paths"]["source"]))
        for group in target.get("compileGroups", []):
            for include in group.get("includes", []):
                if under(include["path"], root, TEST_ONLY):
                    problems.append("shipped target %s has the test-only include folder %s" % (
                        target["name"], os.path.relpath(include["path"], root)))
        for fragment in target.get("link", {}).get("commandFragments", []):
            for word in fragment["fragment"].split():
                if os.path.isabs(word) and under(word, root, TEST_ONLY):
                    problems.append("shipped target %s links %s" % (target["name"], word))

    def needs(name, dep):
        if name not in by_name:
            return  # a target this build doesn't make (the DLLs on the host)
        if dep not in [d["name"] for d in closure(by_name[name])]:
            problems.append("%s does not build on %s" % (name, dep))

    # The same layers in the target graph: a target in a component depends
    # on no target of a component that one doesn't build on.
    for target in targets.values():
        layer = layer_of(folder(target), root)
        if layer is None:
            continue
        for dep in closure(target):
            other = layer_of(folder(dep), root)
            if other is not None and other != layer and other not in LAYERS[layer]:
                problems.append("%s (%s) depends on %s (%s), which it does not build on" % (
                    target["name"], layer, dep["name"], other))

    for name in ("commio_core", "zelbin_keytest_core", "zelbin_sim"):
        needs(name, "zelbin_uart")
    needs("zelbin_comdevices", "commio_core")
    if "zelbin_uart" in by_name and by_name["zelbin_uart"]["paths"]["source"] != "src/uart":
        problems.append("the UART model is not the component src/uart")


def check_declarations(root, problems):
    """io.dll's operations and the comm-port status export, declared once each."""
    rules = [(re.compile(r"\bWINAPI\s+(IsDriverInstalled|PortOut|GetPortBit|SetPortBit|ClrPortBit|PortIn)\s*\("),
              "include/IoDll.h", "io.dll's operations"),
             (re.compile(r"\bWINAPI\s+CommIoStatus\s*\("), "include/CommPortIo.h", "CommIoStatus"),
             (re.compile(r"\bWINAPI\s+CommIoUartStatus\s*\("), "include/CommPortIo.h", "CommIoUartStatus"),
             (re.compile(r"^typedef struct CommIoUart\b", re.M), "include/CommPortIo.h", "CommIoUart")]
    for pattern, home, what in rules:
        declared = set()
        for top in SHIPPED + TEST_ONLY:
            for folder, _, files in os.walk(os.path.join(root, top)):
                for name in files:
                    if name.endswith((".h", ".h.in")):
                        path = os.path.join(folder, name)
                        if pattern.search(open(path, errors="replace").read()):
                            declared.add(os.path.relpath(path, root))
        if declared != {home}:
            problems.append("%s are declared in %s, not in %s alone" % (what, sorted(declared) or "no header", home))
    uart = [p for p in project_files(root, lambda name: name.endswith(".h"))
            if re.search(r"^struct Uart16550\b", open(p, errors="replace").read(), re.M)]
    if [os.path.relpath(p, root) for p in uart] != ["src/uart/include/uart/Uart16550.h"]:
        problems.append("the UART register model is defined in %s" % [os.path.relpath(p, root) for p in uart])
    devices = open(os.path.join(root, "testing/comdevices/include/comdevices/ComDevices.h")).read()
    if not re.search(r"class ComDevices\s+final\s*:\s*public\s+commio::CommApi", devices):
        problems.append("the simulated COM devices don't implement commio::CommApi")


def check_cmake(root, problems):
    climbing = re.compile(r"\$\{(PROJECT_SOURCE_DIR|CMAKE_SOURCE_DIR)\}|\.\./|^/")
    for path in project_files(root, lambda name: name == "CMakeLists.txt" or name.endswith(".cmake")):
        rel = os.path.relpath(path, root)
        text = re.sub(r"#.*", "", open(path).read())
        for call in re.finditer(r"target_include_directories\s*\(([^)]*)\)", text):
            for word in call.group(1).split()[1:]:
                if word in ("PUBLIC", "PRIVATE", "INTERFACE", "SYSTEM", "BEFORE", "AFTER"):
                    continue
                if climbing.search(word):
                    problems.append("%s: target_include_directories names %s, outside the target's folder" % (
                        rel, word))
    for folder, dirs, _ in os.walk(root):
        dirs[:] = [d for d in dirs if d not in GENERATED]
        for d in dirs:
            if os.path.islink(os.path.join(folder, d)):
                problems.append("%s is a link to a folder" % os.path.relpath(os.path.join(folder, d), root))


def run(root, build, dirs, targets):
    problems = []
    check_includes(root, dirs, build, problems)
    check_layers(root, dirs, problems)
    check_graph(root, targets, problems)
    check_declarations(root, problems)
    check_cmake(root, problems)
    return problems


def main():
    root, build = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    model_root, targets = codemodel(build)
    dirs = include_dirs(targets)
    passed = failed = 0

    def check(name, problems):
        nonlocal passed, failed
        if problems:
            failed += 1
            print("FAIL " + name)
            for problem in problems:
                print("     " + problem)
        else:
            passed += 1
            print("ok   " + name)

    problems = run(root, build, dirs, targets)
    check("the folders keep their rules (%d targets, %d include folders)" % (len(targets), len(dirs)), problems)

    if "--self-test" in sys.argv:
        with tempfile.TemporaryDirectory() as temp:
            for top in SHIPPED + ("testing", "tests"):
                shutil.copytree(os.path.join(root, top), os.path.join(temp, top), symlinks=True)
            planted = os.path.join(temp, "src", "commio", "core", "CommIo.cpp")
            with open(planted) as f:
                text = f.read()
            with open(planted, "w") as f:
                f.write('#include "sim/World.h"\n' + text)
            moved = [d.replace(root, temp, 1) if d.startswith(root) else d for d in dirs]
            found = [p for p in run(temp, build, moved, {}) if "sim/World.h" in p and "test-only" in p]
            check("an include of the simulator planted in the comm-port io.dll is found", [] if found else
                  ["the planted include passed"])
            for planted_in, include, what in (
                    ("src/portsetup/KeySearch.cpp", "keytest/KeyTestOptions.h", "the key tester in the port set-up"),
                    ("src/platform/include/platform/Platform.h", "library/Zelbin_SerialCore.h",
                     "the key library in its platform binding"),
                    ("src/library/Zelbin_Serial.cpp", "commio/PortMap.h", "the comm-port io.dll in the key library"),
                    ("src/portsetup/PortList.cpp", "library/Zelbin_SerialCore.h",
                     "the key library's core in the port set-up")):
                planted = os.path.join(temp, planted_in)
                with open(planted) as f:
                    text = f.read()
                with open(planted, "w") as f:
                    f.write('#include "%s"\n' % include + text)
                found = [p for p in run(temp, build, moved, {})
                         if p.startswith(planted_in + " includes") and include in p]
                check("an include of %s is found" % what, [] if found else ["the planted include passed"])
                with open(planted, "w") as f:
                    f.write(text)

    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
