#!/usr/bin/env python3
"""The release's bill of materials, in CycloneDX 1.6 JSON.

Names every Windows binary the release ships (both editions), each
edition's import libraries and the DLL's split symbols (.debug), each with
its path in the release, its version, the SHA-256 of its bytes as shipped
(signed, when the release is) and this project's licence; and what the
linker put into each binary from outside this project: the MinGW-w64
start-up code and runtime, libstdc++, libgcc (and winpthreads or libssp,
should a binary ever link them), each as the Debian package and version
that built it, with its own licence. What went into a binary comes from the
record its build wrote from the linker's map (the install's links/ folder);
the record is found by the SHA-256 of the binary as installed, so a record
of another build is never taken for it.

The NuGet package's bill of materials is the zip's, of what the package
holds, under the package's paths (--nuget): the package is made from the
zip, so the same bytes, which this checks.

The same commit gives the same bytes: no time but the commit's, sorted keys
and components, and a serial number made from the content.

Usage: sbom.py INSTALLS RELEASE_TREE VERSION EPOCH >sbom.cdx.json
  INSTALLS holds each edition's install (INSTALLS/x86, INSTALLS/x64);
  RELEASE_TREE the release as it ships, with each edition's folder.
       sbom.py --nuget ZIP_SBOM PACKAGE_TREE >sbom.cdx.json
  the bill of materials of the package laid out in PACKAGE_TREE, from the
  zip's ZIP_SBOM; each edition's files in runtimes/win-ARCH/native/.
"""
import datetime
import glob
import hashlib
import json
import os
import re
import sys
import uuid

EDITIONS = ("x86", "x64")
DISTRO = "debian-12"

GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
# This project's own parts: the terms of LICENSE.txt, which no SPDX
# identifier names.
PROJECT_LICENCE = {"expression": "LicenseRef-Zelbin-Serial"}
# What else an edition ships besides its binaries, relative to its folder:
# import libraries, and the DLL's symbols split off (the debuglink's file).
OTHER_FILES = [("lib/*.a", "library", "import library for MinGW hosts"),
               ("lib/*.lib", "library", "import library for MSVC hosts"),
               ("*.debug", "file", "the DLL's symbols, split off (the file its debuglink names)")]

# What the linker takes from the toolchain, by file name: the component it
# is part of, how to describe it, and its licence (from the Debian package's
# copyright file). A file named here by no pattern stops the release, so
# that nothing is linked in unlisted.
PARTS = [
    (r"libstdc\+\+\.a|libsupc\+\+\.a", "libstdc++", "GNU C++ standard library (GCC)",
     {"expression": GCC_RUNTIME}),
    (r"libgcc\.a|libgcc_eh\.a|crtbegin\.o|crtend\.o|crtfastmath\.o", "libgcc",
     "GCC's low-level runtime: arithmetic helpers, exception unwinding, constructor lists",
     {"expression": GCC_RUNTIME}),
    (r"libssp\.a|libssp_nonshared\.a", "libssp", "GCC's stack protector runtime", {"expression": GCC_RUNTIME}),
    (r"libwinpthread\.a|libpthread\.a", "winpthreads", "MinGW-w64's POSIX threads for Windows",
     {"expression": "MIT AND BSD-3-Clause"}),
    (r"(dll)?crt2\.o|lib[a-z0-9_]+\.a", "mingw-w64-runtime",
     "MinGW-w64 CRT start-up code, C runtime extensions and import stubs for Windows DLLs",
     {"expression": "ZPL-2.1 AND LicenseRef-public-domain"}),
]


def part_of(path):
    name = os.path.basename(path)
    for pattern, part, description, licence in PARTS:
        if re.fullmatch(pattern, name):
            return part, description, licence
    sys.exit(f"sbom.py: the linker took {path} into a shipped binary, and the bill of materials doesn't know "
             "what it is: name it in sbom.py's PARTS with its licence")


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def purl(package, version, architecture):
    quoted = version.replace("%", "%25").replace("+", "%2B").replace(":", "%3A")
    return f"pkg:deb/debian/{package}@{quoted}?arch={architecture}&distro={DISTRO}"


def upstream(version):
    return version.split(":", 1)[-1].split("-", 1)[0]


def records(installs, edition):
    found = {}
    for path in glob.glob(os.path.join(installs, edition, "links", "*.links.json")):
        with open(path, encoding="utf-8") as file:
            record = json.load(file)
        found[record["sha256"]] = record
    return found


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--nuget":
        nuget(sys.argv[2], sys.argv[3])
        return
    if len(sys.argv) != 5:
        sys.exit("usage: sbom.py INSTALLS RELEASE_TREE VERSION EPOCH | sbom.py --nuget ZIP_SBOM PACKAGE_TREE")
    installs, tree, version, epoch = sys.argv[1:]
    components = {}
    dependencies = {}
    for edition in EDITIONS:
        linked = records(installs, edition)
        binaries = sorted(os.path.relpath(path, os.path.join(tree, edition))
                          for pattern in ("*.dll", "*.exe", "*/*.dll", "*/*.exe")
                          for path in glob.glob(os.path.join(tree, edition, pattern)))
        for binary in binaries:
            installed = os.path.join(installs, edition, binary)
            record = linked.get(sha256(installed))
            if record is None:
                sys.exit(f"sbom.py: no record of what was linked into {installed} in {installs}/{edition}/links "
                         "(an install from another build? run make dist again)")
            ref = f"{edition}/{binary}"
            components[ref] = own_part(tree, edition, binary, "library" if binary.endswith(".dll") else "application",
                                       version)
            parts = set()
            for item in record["linked"]:
                part, description, licence = part_of(item["file"])
                part_ref = f"{edition}/linked/{part}"
                parts.add(part_ref)
                component = components.setdefault(part_ref, {
                    "type": "library",
                    "bom-ref": part_ref,
                    "name": part,
                    "version": item["version"],
                    "description": f"{description}; {upstream(item['version'])} for the {edition} edition, "
                                   "linked statically",
                    "licenses": [licence],
                    "purl": purl(item["package"], item["version"], item["architecture"]),
                    "properties": [{"name": "zelbin:debian-package", "value": item["package"]},
                                   {"name": "zelbin:debian-source", "value": item["source"]},
                                   {"name": "zelbin:edition", "value": edition}],
                })
                if component["version"] != item["version"] or not component["purl"].startswith(
                        f"pkg:deb/debian/{item['package']}@"):
                    sys.exit(f"sbom.py: {part} of the {edition} edition comes from two packages or versions "
                             f"({component['purl']} and {item['package']} {item['version']})")
                files = {p["value"] for p in component["properties"] if p["name"] == "zelbin:linked-file"}
                if item["file"] not in files:
                    component["properties"].append({"name": "zelbin:linked-file", "value": item["file"]})
            dependencies[ref] = sorted(parts)
        for pattern, kind, what in OTHER_FILES:
            for path in sorted(glob.glob(os.path.join(tree, edition, pattern))):
                relative = os.path.relpath(path, os.path.join(tree, edition))
                component = own_part(tree, edition, relative, kind, version)
                component["description"] = f"{what}, {edition} edition"
                components[component["bom-ref"]] = component
                dependencies[component["bom-ref"]] = []
    if not components:
        sys.exit(f"sbom.py: no Windows binary in {tree}")
    write(components, dependencies, version, epoch, "zip")


def own_part(tree, edition, relative, kind, version):
    """A file of this project's own, as the release ships it."""
    ref = f"{edition}/{relative}"
    return {
        "type": kind,
        "bom-ref": ref,
        "name": os.path.basename(relative),
        "version": version,
        "hashes": [{"alg": "SHA-256", "content": sha256(os.path.join(tree, edition, relative))}],
        "licenses": [PROJECT_LICENCE],
        "properties": [{"name": "zelbin:edition", "value": edition},
                       {"name": "zelbin:path", "value": ref}],
    }


def nuget(zip_sbom, package):
    """The zip's components that the package holds, by the package's paths."""
    with open(zip_sbom, encoding="utf-8") as file:
        bom = json.load(file)
    by_ref = {component["bom-ref"]: component for component in bom["components"]}
    depends = {entry["ref"]: entry["dependsOn"] for entry in bom["dependencies"]}
    components = {}
    dependencies = {}
    for path in sorted(glob.glob(os.path.join(package, "runtimes", "win-*", "native", "*"))):
        edition = os.path.basename(os.path.dirname(os.path.dirname(path)))[len("win-"):]
        name = os.path.basename(path)
        component = by_ref.get(f"{edition}/{name}")
        if component is None:
            continue  # not a part the zip's bill lists (io-ports.txt)
        ref = os.path.relpath(path, package).replace(os.sep, "/")
        if component["hashes"] != [{"alg": "SHA-256", "content": sha256(path)}]:
            sys.exit(f"sbom.py: {ref} is not the zip's {edition}/{name} that {zip_sbom} names")
        component = dict(component, **{"bom-ref": ref, "properties": [
            {"name": "zelbin:path", "value": ref} if p["name"] == "zelbin:path" else p
            for p in component["properties"]]})
        components[ref] = component
        dependencies[ref] = depends.get(f"{edition}/{name}", [])
        for part in dependencies[ref]:
            components[part] = by_ref[part]
    if not dependencies:
        sys.exit(f"sbom.py: no part of {zip_sbom} in {package}/runtimes")
    write(components, dependencies, bom["metadata"]["component"]["version"],
          int(datetime.datetime.strptime(bom["metadata"]["timestamp"], "%Y-%m-%dT%H:%M:%SZ")
              .replace(tzinfo=datetime.timezone.utc).timestamp()), "nuget")


def write(components, dependencies, version, epoch, channel):
    """The document, on standard output: the parts in components; the
    project's own, those in dependencies, with the parts linked into them."""
    for component in components.values():
        component["properties"].sort(key=lambda p: (p["name"], p["value"]))

    ordered = [components[ref] for ref in sorted(components)]
    content = json.dumps([channel, ordered], sort_keys=True)
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        # The same content gives the same serial number; other content, another.
        "serialNumber": "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, "zelbin-serial-sbom:" + content)),
        "version": 1,
        "metadata": {
            "timestamp": datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
                                          .strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "component": {
                "type": "library",
                "bom-ref": "Zelbin_Serial",
                "name": "Zelbin_Serial",
                "version": version,
                "description": "Zelbin_Serial.dll, its comm-port io.dll and tools, for Windows, 32-bit and 64-bit",
                "copyright": "The Zelbin_Serial developers",
                "licenses": [PROJECT_LICENCE],
            },
            # Which of the release's channels this bill is of: the zip or the NuGet package.
            "properties": [{"name": "zelbin:channel", "value": channel}],
        },
        "components": ordered,
        "dependencies": [{"ref": "Zelbin_Serial", "dependsOn": sorted(dependencies)}]
                        + [{"ref": ref, "dependsOn": parts} for ref, parts in sorted(dependencies.items())]
                        + [{"ref": ref, "dependsOn": []} for ref in sorted(components) if ref not in dependencies],
    }
    json.dump(bom, sys.stdout, indent=2, sort_keys=True)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
