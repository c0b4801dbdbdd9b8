#!/usr/bin/env python3
"""A channel's bill of materials, sbom.cdx.json, as a vendor's tools read it:
valid against CycloneDX 1.6's published JSON schema (the copy the npm package
@cyclonedx/cyclonedx-library keeps for offline use; nothing is fetched), in
the one form the release writes, naming each binary, import library and
.debug file the channel ships by its path there, with the SHA-256 of its
bytes as they are in the tree and this project's licence, and what was
linked into each binary with the Debian package versions installed on this,
the build's, machine.

Usage: check-sbom.py TREE VERSION SCHEMA_DIR [zip|nuget]
  TREE: the release zip unzipped (zip, the default) or the NuGet package
  unpacked (nuget).
"""
import copy
import glob
import hashlib
import json
import os
import subprocess
import sys

import jsonschema

sys.dont_write_bytecode = True  # nothing written into the source tree
from checks import check, summary  # noqa: E402




def validator(schema_dir):
    store = {}
    for path in glob.glob(os.path.join(schema_dir, "*.schema.json")):
        with open(path, encoding="utf-8") as file:
            schema = json.load(file)
        store["http://cyclonedx.org/schema/" + os.path.basename(path)] = schema
        store[schema.get("$id", "")] = schema
    schema = store["http://cyclonedx.org/schema/bom-1.6.SNAPSHOT.schema.json"]

    def offline(uri):
        raise jsonschema.RefResolutionError(f"{uri} is not in {schema_dir}; nothing is fetched")

    resolver = jsonschema.RefResolver.from_schema(schema, store=store, handlers={"http": offline, "https": offline})
    return jsonschema.Draft7Validator(schema, resolver=resolver, format_checker=jsonschema.FormatChecker())


# What a bill names, by the file's ending, wherever it is in the tree.
KINDS = (".dll", ".exe", ".a", ".lib", ".debug")
PROJECT_LICENCE = [{"expression": "LicenseRef-Zelbin-Serial"}]
# Where each edition's DLLs are, in each channel.
EDITION_FOLDER = {"zip": "{}/", "nuget": "runtimes/win-{}/native/"}


def errors(validate, document):
    return [f"{'/'.join(map(str, error.absolute_path))}: {error.message[:160]}"
            for error in validate.iter_errors(document)]


def main():
    if len(sys.argv) not in (4, 5) or sys.argv[4:] not in ([], ["zip"], ["nuget"]):
        sys.exit("usage: check-sbom.py TREE VERSION SCHEMA_DIR [zip|nuget]")
    tree, version, schema_dir = sys.argv[1:4]
    channel = (sys.argv[4:] or ["zip"])[0]
    path = os.path.join(tree, "sbom.cdx.json")
    with open(path, "rb") as file:
        raw = file.read()
    bom = json.loads(raw)
    validate = validator(schema_dir)

    found = errors(validate, bom)
    check("sbom.cdx.json is valid CycloneDX 1.6 (the published schema)", not found, "; ".join(found[:5]))
    # The schema is really applied: documents it must refuse are refused.
    for what, spoil in [
        ("a hash algorithm it doesn't know", lambda b: b["components"][0]["hashes"][0].update(alg="SHA256")),
        ("a SHA-256 of the wrong length", lambda b: b["components"][0]["hashes"][0].update(content="00")),
        ("a licence id SPDX doesn't list", lambda b: b["components"].append(
            dict(b["components"][0], **{"bom-ref": "spoilt", "licenses": [{"license": {"id": "Not-A-Licence"}}]}))),
    ]:
        spoilt = copy.deepcopy(bom)
        spoil(spoilt)
        check(f"the schema refuses {what}", bool(errors(validate, spoilt)))

    written = (json.dumps(bom, indent=2, sort_keys=True) + "\n").replace("\n", "\r\n").encode()
    check("it is in the one form the release writes (sorted keys, CR LF)", raw == written)
    check("it names this release's version", bom["metadata"]["component"]["version"] == version,
          bom["metadata"]["component"]["version"])
    said = [p["value"] for p in bom["metadata"].get("properties", []) if p["name"] == "zelbin:channel"]
    check(f"it says it is the {'NuGet package' if channel == 'nuget' else 'release zip'}'s ({channel})",
          said == [channel], said)
    check("the release itself carries this project's licence",
          bom["metadata"]["component"].get("licenses") == PROJECT_LICENCE, bom["metadata"]["component"].get("licenses"))

    components = {component["bom-ref"]: component for component in bom["components"]}
    depends = {entry["ref"]: entry["dependsOn"] for entry in bom["dependencies"]}
    shipped = sorted(os.path.relpath(os.path.join(folder, name), tree).replace(os.sep, "/")
                     for folder, _, names in os.walk(tree) for name in names if name.endswith(KINDS))
    named = sorted(ref for ref in components if "/linked/" not in ref)
    check(f"every binary, import library and .debug file shipped, by its path here, and nothing else, is a "
          f"component ({len(shipped)})", named == shipped, f"named {named}, shipped {shipped}")
    for path in shipped:
        with open(os.path.join(tree, path), "rb") as file:
            digest = hashlib.sha256(file.read()).hexdigest()
        component = components.get(path, {})
        hashes = component.get("hashes", [])
        paths = [p["value"] for p in component.get("properties", []) if p["name"] == "zelbin:path"]
        check(f"{path}: version {version}, the SHA-256 of its bytes as shipped, this project's licence",
              component.get("version") == version and hashes == [{"alg": "SHA-256", "content": digest}]
              and component.get("licenses") == PROJECT_LICENCE and paths == [path],
              f"{component.get('version')} {hashes} (the file's: {digest}) {component.get('licenses')} {paths}")
    dangling = sorted({ref for entry in bom["dependencies"] for ref in [entry["ref"]] + entry["dependsOn"]}
                      - set(components) - {bom["metadata"]["component"]["bom-ref"]})
    check("every dependency is of a component", not dangling, dangling)

    # What the linker put into each DLL, as its own edition's components.
    # Neither DLL links the C++ runtime: libstdc++ in one would be a fault.
    for edition in ("x86", "x64"):
        folder = EDITION_FOLDER[channel].format(edition)
        for binary, parts in [("Zelbin_Serial.dll", ["libgcc", "mingw-w64-runtime"]),
                              ("io.dll", ["libgcc", "mingw-w64-runtime"])]:
            ref = folder + binary
            want = [f"{edition}/linked/{part}" for part in parts]
            check(f"{ref} contains {', '.join(parts)} of its edition", depends.get(ref) == want, depends.get(ref))

    installed = {}
    for ref, component in sorted(components.items()):
        if "/linked/" not in ref:
            continue
        package = next(p["value"] for p in component["properties"] if p["name"] == "zelbin:debian-package")
        if package not in installed:
            installed[package] = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                                                capture_output=True, text=True).stdout
        check(f"{ref}: {package} {component['version']}, as installed here, with its licence",
              component["version"] == installed[package] and component.get("licenses")
              and component["purl"].startswith(f"pkg:deb/debian/{package}@"),
              f"installed: {installed[package] or 'none'}; {component.get('purl')} {component.get('licenses')}")

    return summary()


if __name__ == "__main__":
    sys.exit(main())
