// ZelbinSerialFiles, run by Mono over the real DLLs of both editions: which
// file a process of each architecture loads from a host's folder, and the
// messages when the file is missing or of the other architecture.
// Usage: mono KitFiles.exe X86_DLL X64_DLL WORK_DIR
//        mono KitFiles.exe --first-call missing|wrong
//   A host's first call with the files as they are beside KitFiles.exe
//   (none, or the other edition's DLL where this process's should be): the
//   call throws what names the file, and so does the next one, without a
//   second look at the files.
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

    static int Main(string[] args)
    {
        if (args.Length == 2 && args[0] == "--first-call")
            return FirstCall(args[1]);
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
        Check("no DLL at all names both places looked at and the architecture",
            missing.StartsWith("DllNotFoundException: Zelbin_Serial.dll for x64 (64-bit) processes is not there")
                && missing.Contains(Path.Combine(Path.Combine(none, "x64"), "Zelbin_Serial.dll")), missing);

        Check("the process architecture follows the pointer size",
            ZelbinSerialFiles.ProcessArchitecture == (IntPtr.Size == 8 ? "x64" : "x86"), ZelbinSerialFiles.ProcessArchitecture);
        return failed == 0 ? 0 : 1;
    }
}
