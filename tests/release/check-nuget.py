#!/usr/bin/env python3
"""The NuGet package as NuGet and a .NET build read it: exactly the files it
should hold, in a reproducible zip; a .nuspec whose id, version, licence,
readme and content files agree with the package; the OPC parts; each
edition's native files the release zip's own bytes, of the right machine;
and the build targets' items, followed as MSBuild copies them. Lays the
native files out in LAYOUTS as .NET builds do, for the locator's run:
portable/ (runtimes\\ as is), rid-x86/ and rid-x64/ (one edition flat),
netfx/ (where the targets' Link puts each file).

Usage: check-nuget.py NUPKG RELEASE_ZIP LAYOUTS
"""
import glob
import os
import re
import shutil
import sys
import xml.etree.ElementTree as ET
import zipfile

import pefile

sys.dont_write_bytecode = True  # nothing written into the source tree
from checks import check, summary  # noqa: E402

NATIVE = ("Zelbin_Serial.dll", "io.dll", "io-ports.txt")
MACHINES = {"x86": 0x014C, "x64": 0x8664}



def main():
    if len(sys.argv) != 4:
        sys.exit("usage: check-nuget.py NUPKG RELEASE_ZIP LAYOUTS")
    nupkg_path, zip_path, layouts = sys.argv[1:]
    version = re.fullmatch(r"Zelbin_Serial-(.*)-windows\.zip", os.path.basename(zip_path)).group(1)
    release = zipfile.ZipFile(zip_path)
    top = f"Zelbin_Serial-{version}-windows/"
    package = zipfile.ZipFile(nupkg_path)
    entries = package.infolist()
    names = [entry.filename for entry in entries]
    files = {name: package.read(name) for name in names}

    check(f"named Zelbin.Serial.{version}.nupkg", os.path.basename(nupkg_path) == f"Zelbin.Serial.{version}.nupkg")
    expected = sorted(["Zelbin.Serial.nuspec", "[Content_Types].xml", "_rels/.rels", "LICENSE.txt", "README.md",
                       "sbom.cdx.json", "build/Zelbin.Serial.targets", "content/Zelbin/ZelbinSerial.cs",
                       "contentFiles/cs/any/Zelbin/ZelbinSerial.cs"]
                      + [f"runtimes/win-{arch}/native/{file}" for arch in MACHINES for file in NATIVE])
    check("it holds exactly the package's files, sorted, no folder entries", names == expected,
          f"has {names}")
    check("every entry has one time, the commit's (reproducible)", len({entry.date_time for entry in entries}) == 1,
          {entry.date_time for entry in entries})

    # The manifest.
    nuspec = ET.fromstring(files["Zelbin.Serial.nuspec"])
    ns = {"n": nuspec.tag[1:].split("}")[0]}
    meta = nuspec.find("n:metadata", ns)

    def field(name):
        element = meta.find(f"n:{name}", ns)
        return None if element is None else element
    for name, want in [("id", "Zelbin.Serial"), ("version", version)]:
        check(f".nuspec {name} is {want}", field(name) is not None and field(name).text == want,
              field(name) is not None and field(name).text)
    licence = field("license")
    check(".nuspec licence is the file LICENSE.txt, which the package holds",
          licence is not None and licence.get("type") == "file" and licence.text in files
          and b"Copyright" in files.get(licence.text, b""))
    readme = field("readme")
    check(".nuspec readme is README.md, which names this version",
          readme is not None and readme.text in files and version.encode() in files[readme.text])
    check(".nuspec has a description and the key library's copyright",
          all(field(name) is not None and (field(name).text or "").strip() for name in ("description", "copyright"))
          and "The Zelbin_Serial developers" in field("copyright").text)
    content = meta.findall("n:contentFiles/n:files", ns)
    check(".nuspec compiles the C# class from contentFiles into the host",
          len(content) == 1 and content[0].get("buildAction") == "Compile"
          and "contentFiles/" + content[0].get("include") in files)
    # What the package gives each .NET language: C# source, no assembly.
    languages = sorted({name.split("/")[1] for name in names if name.startswith("contentFiles/")})
    assemblies = [name for name in names if name.endswith(".dll") and not name.startswith("runtimes/")]
    description = " ".join((field("description").text or "").split()) if field("description") is not None else ""
    check(".nuspec says the class is C# source for C# projects and the package holds no .NET assembly, as it does",
          languages == ["cs"] and not assemblies and "C# source" in description
          and "compiles into C# projects only" in description and "no compiled .NET assembly" in description,
          f"languages {languages}, assemblies {assemblies}: {description}")
    check(".nuspec asks for a NuGet that reads a licence file (4.9)",
          [int(part) for part in meta.get("minClientVersion", "0").split(".")] >= [4, 9])

    # The Open Packaging Conventions parts NuGet reads the package by.
    rels = ET.fromstring(files["_rels/.rels"])
    targets = [relation.get("Target") for relation in rels]
    check("_rels/.rels points at the manifest", targets == ["/Zelbin.Serial.nuspec"], targets)
    types = ET.fromstring(files["[Content_Types].xml"])
    declared = {entry.get("Extension") for entry in types}
    extensions = {name.rsplit(".", 1)[1] for name in names if "." in os.path.basename(name)}
    check("[Content_Types].xml gives every file's extension a type", extensions <= declared,
          extensions - declared)

    # The files, as the release zip has them.
    for arch, machine in MACHINES.items():
        same = [file for file in NATIVE if files[f"runtimes/win-{arch}/native/{file}"] == release.read(top + f"{arch}/{file}")]
        check(f"runtimes/win-{arch}/native holds the zip's {arch} {', '.join(NATIVE)}, byte for byte",
              len(same) == len(NATIVE), same)
        wrong = [dll for dll in NATIVE[:2]
                 if pefile.PE(data=files[f"runtimes/win-{arch}/native/{dll}"], fast_load=True).FILE_HEADER.Machine
                 != machine]
        check(f"runtimes/win-{arch}/native's DLLs are {arch} images", not wrong, wrong)
    source = release.read(top + "kits/csharp/ZelbinSerial.cs")
    check("both copies of ZelbinSerial.cs are the zip's", files["content/Zelbin/ZelbinSerial.cs"] == source
          and files["contentFiles/cs/any/Zelbin/ZelbinSerial.cs"] == source)
    check("sbom.cdx.json is the package's own, not the zip's (check-sbom.py reads it)",
          files["sbom.cdx.json"] != release.read(top + "sbom.cdx.json"))

    # The package's native files as .NET builds place them.
    shutil.rmtree(layouts, ignore_errors=True)
    unpacked = os.path.join(layouts, "package")
    package.extractall(unpacked)
    shutil.copytree(os.path.join(unpacked, "runtimes"), os.path.join(layouts, "portable", "runtimes"))
    for arch in MACHINES:
        shutil.copytree(os.path.join(unpacked, "runtimes", f"win-{arch}", "native"), os.path.join(layouts, f"rid-{arch}"))

    # The build targets, followed as MSBuild would: each None item's Include
    # (relative to the targets file), copied to the output by its Link.
    project = ET.fromstring(files["build/Zelbin.Serial.targets"])
    msbuild = {"m": project.tag[1:].split("}")[0]}
    groups = project.findall("m:ItemGroup", msbuild)
    check("the build targets apply to .NET Framework builds only",
          len(groups) == 1 and groups[0].get("Condition", "").replace(" ", "") == "'$(TargetFrameworkIdentifier)'=='.NETFramework'",
          [group.get("Condition") for group in groups])
    build_dir = os.path.join(unpacked, "build")
    copied = []
    for item in project.findall("m:ItemGroup/m:None", msbuild):
        include = item.get("Include").replace("$(MSBuildThisFileDirectory)", build_dir + os.sep).replace("\\", os.sep)
        link = item.find("m:Link", msbuild).text
        copy = item.find("m:CopyToOutputDirectory", msbuild)
        for path in sorted(glob.glob(os.path.normpath(include))):
            stem, extension = os.path.splitext(os.path.basename(path))
            destination = link.replace("%(Filename)", stem).replace("%(Extension)", extension).replace("\\", os.sep)
            if copy is not None and copy.text in ("PreserveNewest", "Always"):
                target = os.path.join(layouts, "netfx", destination)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(path, target)
                copied.append(destination.replace(os.sep, "/"))
    want = sorted(f"{arch}/{file}" for arch in MACHINES for file in NATIVE)
    check("the build targets copy each edition's three files into x86\\ and x64\\ of the output",
          sorted(copied) == want, sorted(copied))

    return summary()


if __name__ == "__main__":
    sys.exit(main())
