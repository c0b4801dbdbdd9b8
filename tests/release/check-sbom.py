#!/usr/bin/env python3
"""The release's bill of materials, sbom.cdx.json, as a vendor's tools read it:
valid against CycloneDX 1.6's published JSON schema (the copy the npm package
@cyclonedx/cyclonedx-library keeps for offline use; nothing is fetched), in
the one form the release writes, naming each shipped binary with the SHA-256
of its bytes as they are in the tree, and what was linked into it with the
Debian package versions installed on this, the build's, machine.

Usage: check-sbom.py RELEASE_TREE VERSION SCHEMA_DIR
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


def errors(validate, document):
    return [f"{'/'.join(map(str, error.absolute_path))}: {error.message[:160]}"
            for error in validate.iter_errors(document)]


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check-sbom.py RELEASE_TREE VERSION SCHEMA_DIR")
    tree, version, schema_dir = sys.argv[1:]
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

    components = {component["bom-ref"]: component for component in bom["components"]}
    depends = {entry["ref"]: entry["dependsOn"] for entry in bom["dependencies"]}
    shipped = sorted(os.path.relpath(path, tree) for edition in ("x86", "x64") for pattern in ("*", "*/*")
                     for suffix in (".dll", ".exe") for path in glob.glob(os.path.join(tree, edition, pattern + suffix)))
    named = sorted(ref for ref in components if "/linked/" not in ref)
    check(f"every shipped binary, and nothing else, is a component ({len(shipped)})", named == shipped,
          f"named {named}, shipped {shipped}")
    for binary in shipped:
        with open(os.path.join(tree, binary), "rb") as file:
            digest = hashlib.sha256(file.read()).hexdigest()
        component = components.get(binary, {})
        hashes = component.get("hashes", [])
        check(f"{binary}: version {version}, the SHA-256 of its bytes as shipped",
              component.get("version") == version and hashes == [{"alg": "SHA-256", "content": digest}],
              f"{component.get('version')} {hashes} (the file's: {digest})")

    # What the linker put into each binary, as its own edition's components.
    for edition in ("x86", "x64"):
        for binary, parts in [("Zelbin_Serial.dll", ["libgcc", "libstdc++", "mingw-w64-runtime"]),
                              ("io.dll", ["libgcc", "libstdc++", "mingw-w64-runtime"])]:
            ref = f"{edition}/{binary}"
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
