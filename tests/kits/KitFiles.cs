// ZelbinSerialFiles, run by Mono over the real DLLs of both editions: which
// file a process of each architecture loads from a host's folder, and the
// messages when the file is missing or of the other architecture.
// Usage: mono KitFiles.exe X86_DLL X64_DLL WORK_DIR
//        mono KitFiles.exe --first-call missing|wrong
//   A host's first call with the files as they are beside KitFiles.exe
//   (none, or the other edition's DLL where this process's should be): the
//   call throws what names the file, and so does the next one, without a
//   second look at the files.
//        mono KitFiles.exe --package WORK_DIR
//   The NuGet package's files as .NET builds lay them out, in WORK_DIR:
//   portable/ (runtimes\win-ARCH\native\, no runtime identifier), rid-x86/
//   and rid-x64/ (one edition beside the program), netfx/ (x86\ and x64\,
//   as the package's build targets copy them): each architecture finds its
//   own edition's DLL, with io.dll of that edition and io-ports.txt beside.
//        mono KitFiles.exe --faults DIR FAULT...
//   What a first call would say for each fault folder in DIR (laid out by
//   fault-folders.sh, the files beside the host): the file's choice, then
//   the message for Windows' error, 126 and, for an io.dll of the other
//   architecture, 193 (Windows' answer; Wine's is 126). One line each,
//   tab-separated, for check-load-faults.py.
using System;
using System.IO;
using Zelbin;

static class KitFiles
{
    static int failed;

    static void Check(string name, bool ok, string detail)
    {
        Console.WriteLine((ok ? "ok   " : "FAIL ") + name + (ok ? "" : "\n     " + detail));
        if (!ok)
            failed++;
    }

    static string Folder(string work, string name, params string[] files)
    {
        string folder = Path.Combine(work, name);
        Directory.CreateDirectory(folder);
        for (int i = 0; i + 1 < files.Length; i += 2) {
            string to = Path.Combine(folder, files[i + 1]);
            Directory.CreateDirectory(Path.GetDirectoryName(to));
            File.Copy(files[i], to, true);
        }
        return folder;
    }

    static string Refusal(string folder, string architecture)
    {
        try {
            return "found " + ZelbinSerialFiles.Locate(folder, architecture);
        } catch (Exception e) {
            return e.GetType().Name + ": " + e.Message;
        }
    }

    static string Thrown(Action call)
    {
        try {
            call();
            return "nothing thrown";
        } catch (Exception e) {
            return e.GetType().Name + ": " + e.Message;
        }
    }

    static int FirstCall(string setup)
    {
        string folder = AppDomain.CurrentDomain.BaseDirectory;
        string expected = setup == "missing"
            ? "DllNotFoundException: Zelbin_Serial.dll for " + (IntPtr.Size == 8 ? "x64 (64-bit)" : "x86 (32-bit)")
                + " processes is not there"
            : "BadImageFormatException: " + Path.Combine(Path.Combine(folder, ZelbinSerialFiles.ProcessArchitecture),
                "Zelbin_Serial.dll") + " is an ";
        string first = Thrown(() => ZelbinSerial.IsCustom());
        Check("the first call tells what is wrong with the file, by name (" + setup + ")",
            first.StartsWith(expected), first);
        // Put right after the first look: the next call still tells the same.
        if (setup == "missing")
            File.Copy(typeof(KitFiles).Assembly.Location, Path.Combine(folder, "Zelbin_Serial.dll"), true);
        string second = Thrown(() => ZelbinSerial.IsZBToggle());
        Check("the next call throws the same, without a second look at the files (" + setup + ")",
            second == first, second);
        return failed == 0 ? 0 : 1;
    }

    static string Sub(params string[] parts)
    {
        return string.Join(Path.DirectorySeparatorChar.ToString(), parts);
    }

    // The DLL an architecture takes from the folder, and the io.dll and port
    // map that must lie beside it.
    static void Takes(string what, string folder, string architecture, string expected)
    {
        string found = Refusal(folder, architecture);
        string dll = "found " + Path.Combine(folder, expected);
        string beside = Path.GetDirectoryName(Path.Combine(folder, expected));
        string io = Path.Combine(beside, "io.dll");
        Check(what + ": an " + architecture + " process takes " + expected + ", with its edition's io.dll and "
                + "io-ports.txt beside it",
            found == dll && ZelbinSerialFiles.MachineOf(io) == architecture
                && File.Exists(Path.Combine(beside, "io-ports.txt")),
            found + "; io.dll: " + (ZelbinSerialFiles.MachineOf(io) ?? "none"));
    }

    static int Package(string work)
    {
        foreach (string arch in new[] { "x86", "x64" }) {
            Takes("a .NET build without a runtime identifier", Path.Combine(work, "portable"), arch,
                Sub("runtimes", "win-" + arch, "native", "Zelbin_Serial.dll"));
            Takes("a build for win-" + arch, Path.Combine(work, "rid-" + arch), arch, "Zelbin_Serial.dll");
            Takes("a .NET Framework build with the package's targets", Path.Combine(work, "netfx"), arch,
                Sub(arch, "Zelbin_Serial.dll"));
        }
        string other = Refusal(Path.Combine(work, "rid-x64"), "x86");
        Check("a build for win-x64 run as an x86 process is told it holds the x64 DLL",
            other.Contains("is an x64 (64-bit) DLL, but this process is x86 (32-bit)"), other);
        return failed == 0 ? 0 : 1;
    }

    static int Faults(string dir, string[] faults)
    {
        foreach (string fault in faults) {
            string folder = Path.Combine(dir, fault);
            string dll = Path.Combine(folder, ZelbinSerial.DllName);
            var errors = fault == "wrong-io" ? new[] { 126, 193 } : new[] { 126 };
            foreach (int error in errors) {
                string said = Thrown(() => {
                    throw ZelbinSerialFiles.LoadFailure(
                        ZelbinSerialFiles.Locate(folder, ZelbinSerialFiles.ProcessArchitecture), error);
                });
                Console.WriteLine(string.Join("\t", new[] { fault + "/" + error, dll, Path.Combine(folder, "io.dll"),
                    ZelbinSerialFiles.ProcessArchitecture, said }));
            }
        }
        return 0;
    }

    static int Main(string[] args)
    {
        if (args.Length >= 2 && args[0] == "--faults") {
            var faults = new string[args.Length - 2];
            Array.Copy(args, 2, faults, 0, faults.Length);
            return Faults(args[1], faults);
        }
        if (args.Length == 2 && args[0] == "--first-call")
            return FirstCall(args[1]);
        if (args.Length == 2 && args[0] == "--package")
            return Package(args[1]);
        string x86 = args[0], x64 = args[1], work = args[2];
        string sep = Path.DirectorySeparatorChar.ToString();
        Check("the x86 DLL reads as x86, the x64 one as x64, a text file as nothing",
            ZelbinSerialFiles.MachineOf(x86) == "x86" && ZelbinSerialFiles.MachineOf(x64) == "x64"
                && ZelbinSerialFiles.MachineOf(args[2] + sep + ".." + sep + "Host.cs") == null, "");

        string both = Folder(work, "both", x86, "x86" + sep + "Zelbin_Serial.dll", x64, "x64" + sep + "Zelbin_Serial.dll",
            x86, "Zelbin_Serial.dll");
        foreach (string arch in new[] { "x86", "x64" }) {
            string found = ZelbinSerialFiles.Locate(both, arch);
            Check("an " + arch + " process takes " + arch + sep + "Zelbin_Serial.dll before the one beside the host",
                found == Path.Combine(Path.Combine(both, arch), "Zelbin_Serial.dll"), found);
        }

        string runtimes = Folder(work, "runtimes", x86, Sub("runtimes", "win-x86", "native", "Zelbin_Serial.dll"),
            x64, Sub("runtimes", "win-x64", "native", "Zelbin_Serial.dll"), x86, "Zelbin_Serial.dll");
        string all = Folder(work, "all", x86, Sub("x86", "Zelbin_Serial.dll"), x64, Sub("x64", "Zelbin_Serial.dll"),
            x86, Sub("runtimes", "win-x86", "native", "Zelbin_Serial.dll"),
            x64, Sub("runtimes", "win-x64", "native", "Zelbin_Serial.dll"));
        foreach (string arch in new[] { "x86", "x64" }) {
            string found = ZelbinSerialFiles.Locate(runtimes, arch);
            Check("an " + arch + " process takes runtimes" + sep + "win-" + arch + sep + "native" + sep
                    + " before the DLL beside the host",
                found == Path.Combine(runtimes, Sub("runtimes", "win-" + arch, "native", "Zelbin_Serial.dll")), found);
            found = ZelbinSerialFiles.Locate(all, arch);
            Check("an " + arch + " process takes " + arch + sep + " before runtimes" + sep,
                found == Path.Combine(all, Sub(arch, "Zelbin_Serial.dll")), found);
        }

        string beside = Folder(work, "beside", x86, "Zelbin_Serial.dll");
        Check("without the edition's folder, the DLL beside the host",
            ZelbinSerialFiles.Locate(beside, "x86") == Path.Combine(beside, "Zelbin_Serial.dll"), "");
        string wrong = Refusal(beside, "x64");
        Check("an x64 process handed the x86 DLL is told both architectures and the file",
            wrong.StartsWith("BadImageFormatException: " + Path.Combine(beside, "Zelbin_Serial.dll")
                + " is an x86 (32-bit) DLL, but this process is x64 (64-bit)"), wrong);

        string swapped = Folder(work, "swapped", x64, "x86" + sep + "Zelbin_Serial.dll");
        wrong = Refusal(swapped, "x86");
        Check("an x86 process handed the x64 DLL in x86" + sep + " is refused the same way",
            wrong.Contains("is an x64 (64-bit) DLL, but this process is x86 (32-bit)"), wrong);

        string none = Folder(work, "none");
        string missing = Refusal(none, "x64");
        Check("no DLL at all names the three places looked at and the architecture",
            missing.StartsWith("DllNotFoundException: Zelbin_Serial.dll for x64 (64-bit) processes is not there")
                && missing.Contains(Path.Combine(none, Sub("x64", "Zelbin_Serial.dll")))
                && missing.Contains(Path.Combine(none, Sub("runtimes", "win-x64", "native", "Zelbin_Serial.dll")))
                && missing.Contains(Path.Combine(none, "Zelbin_Serial.dll") + ". Ship"), missing);

        Check("the process architecture follows the pointer size",
            ZelbinSerialFiles.ProcessArchitecture == (IntPtr.Size == 8 ? "x64" : "x86"), ZelbinSerialFiles.ProcessArchitecture);
        return failed == 0 ? 0 : 1;
    }
}
