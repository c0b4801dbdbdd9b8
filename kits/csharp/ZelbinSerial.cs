// ZelbinSerial: Zelbin_Serial.dll for .NET hosts (C#, WinForms, WPF).
//
// Both classes are internal: each C# project that compiles this file in has
// its own copy. Define ZELBIN_SERIAL_PUBLIC in a C# library of the host's own
// to make them public, for assemblies in other .NET languages to call.
//
// Zelbin_Serial.dll reads a hardware key on a PC serial port: the key closes
// the port's CTS line; the library holds RTS on while it listens and drives
// DTR as the host's output line.
//
// - Any platform target: x86, x64 or AnyCPU. A process loads a DLL of its
//   own architecture only, and an AnyCPU host runs as a 64-bit process on
//   64-bit Windows. Before the first call this class loads the edition of
//   the running process, the first there of, under the host's folder:
//   x86\Zelbin_Serial.dll or x64\Zelbin_Serial.dll (the release's folders,
//   or a .NET Framework build with the Zelbin.Serial package);
//   runtimes\win-x86\native\ or runtimes\win-x64\native\ (a .NET build of
//   the package without a runtime identifier); Zelbin_Serial.dll beside the
//   host (a build for one runtime identifier). Ship the release's x86 and x64
//   folders with the host as they are: each holds the DLL with the io.dll it
//   imports and that io.dll's port map, io-ports.txt, side by side (the
//   comm-port io.dll; an x86 host on a PC with a legacy port driver takes
//   that driver's io.dll into x86\ instead). The package's folders hold the
//   same three.
// - A missing or wrong file is told at the first call: a
//   DllNotFoundException or BadImageFormatException whose message names the
//   file, the DLL or the io.dll beside it (and, for a file of the other
//   architecture, both architectures), never a
//   TypeInitializationException. The files are looked at once; every later
//   call throws the same again, so restart the host after putting the
//   files right.
// - All five functions are stdcall on x86 (x64 has one convention), exported
//   under these undecorated names; the declarations say both, so nothing
//   depends on the defaults.
// - Booleans are one byte (0 false, 1 true; on input any non-zero byte is
//   true). The marshaller's default for bool is the four-byte Win32 BOOL:
//   without UnmanagedType.U1 a result would be read from all of EAX, whose
//   upper bytes the DLL doesn't set, and the argument would be passed as
//   four bytes where the DLL reads one.
// - The parameter text is 8-bit and NUL-terminated (LPStr); null is the
//   default port.
// - No function reports an error; each one that needs the port quietly does
//   nothing while the library is not listening or the port-I/O driver is
//   missing. One process-wide port state, no lock: call from one thread at a
//   time (a WinForms timer on the UI thread is fine).
// - Call StopListen before the host exits: unloading doesn't release a port
//   that is still held.
//
// Usage:
//
//     ZelbinSerial.StartListen("COM2");          // or "COM9;2E8h": mind the suffix
//     var timer = new System.Windows.Forms.Timer { Interval = 10 };
//     bool toggled = false;
//     timer.Tick += (s, e) => {
//         if (ZelbinSerial.IsZBToggle()) {
//             toggled = !toggled;
//             ZelbinSerial.SetToggled(toggled);
//         }
//     };
//     timer.Start();
//     ...
//     timer.Stop();
//     ZelbinSerial.SetToggled(false);            // stopping leaves DTR as set
//     ZelbinSerial.StopListen();
//
// The parameter text: "COM1".."COM4" alone pick that port's standard base
// (3F8h, 2F8h, 3E8h, 2E8h); any other single name, or none, picks COM1 at
// 3F8h. "NAME;ADDRh" opens device NAME and drives the UART at hexadecimal
// base ADDR, whose last character (the suffix) is dropped unseen: write
// "COM9;2E8h", not "COM9;2E8" or "COM9;0x2E8h". A base outside
// 0100h..FFF9h is refused and the library stays idle.

using System;
using System.ComponentModel;
using System.IO;
using System.Runtime.InteropServices;

namespace Zelbin
{
    // Internal, so that two projects of one solution that both compile this
    // file in (each that references the NuGet package does) don't clash.
#if ZELBIN_SERIAL_PUBLIC
    public
#else
    internal
#endif
    static class ZelbinSerial
    {
        public const string DllName = "Zelbin_Serial.dll";

        /// <summary>The Zelbin_Serial.dll this process loaded; asking loads it
        /// (or throws) as a first call does.</summary>
        public static string LoadedFrom { get { Load(); return loadedFrom; } }

        /// <summary>Always true: this key library is a custom one. Ordinal 1.</summary>
        public static bool IsCustom() { Load(); return Native.IsCustom(); }

        /// <summary>Sets DTR when true, clears it when false; nothing when not
        /// listening. Every start clears DTR again. Ordinal 2.</summary>
        public static void SetToggled(bool toggled) { Load(); Native.SetToggled(toggled); }

        /// <summary>The polling call: true when the key reads closed and the last
        /// poll that read it saw it open. Poll every 10 ms or so. Ordinal 3.</summary>
        public static bool IsZBToggle() { Load(); return Native.IsZBToggle(); }

        /// <summary>Releases the device; RTS and DTR stay as they are. Ordinal 4.</summary>
        public static void StopListen() { Load(); Native.StopListen(); }

        /// <summary>Starts listening on the port the text names (null: COM1 at
        /// 3F8h); a port already held is released first. Ordinal 5.</summary>
        public static void StartListen(string parameters) { Load(); Native.StartListen(parameters); }

        static readonly object loading = new object();
        static volatile string loadedFrom;
        static Exception failure; // what the one look at the files found wrong
        static bool looked;

        // At the first call: the DLL of the process's own architecture is
        // loaded by its full path, and the declarations then bind to it by
        // name. Not in a static constructor: what that throws reaches the
        // host as a TypeInitializationException whose message says nothing.
        static void Load()
        {
            if (loadedFrom != null)
                return;
            lock (loading) {
                if (!looked) {
                    looked = true;
                    try {
                        string path = ZelbinSerialFiles.Locate(AppDomain.CurrentDomain.BaseDirectory,
                            ZelbinSerialFiles.ProcessArchitecture);
                        // The DLL's own folder is searched first for its io.dll.
                        if (LoadLibraryExW(path, IntPtr.Zero, LoadWithAlteredSearchPath) == IntPtr.Zero)
                            throw ZelbinSerialFiles.LoadFailure(path, Marshal.GetLastWin32Error());
                        loadedFrom = path;
                        return;
                    } catch (Exception e) {
                        failure = e;
                        throw;
                    }
                }
            }
            if (failure != null)
                throw Again(failure);
        }

        // The first failure once more, of the same type and with the same
        // message, for a call after the first.
        static Exception Again(Exception first)
        {
            var image = first as BadImageFormatException;
            if (image != null)
                return new BadImageFormatException(first.Message, image.FileName, first);
            return new DllNotFoundException(first.Message, first);
        }

        const uint LoadWithAlteredSearchPath = 0x00000008;

        [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true, ExactSpelling = true)]
        static extern IntPtr LoadLibraryExW(string path, IntPtr file, uint flags);

        // The exports themselves, bound by name to the DLL Load() brought in.
        static class Native
        {
            [DllImport(DllName, EntryPoint = "ZelbinIsCustom", CallingConvention = CallingConvention.StdCall,
                ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool IsCustom();

            [DllImport(DllName, EntryPoint = "ZelbinSetToggled", CallingConvention = CallingConvention.StdCall,
                ExactSpelling = true)]
            internal static extern void SetToggled([MarshalAs(UnmanagedType.U1)] bool toggled);

            [DllImport(DllName, EntryPoint = "ZelbinIsZBToggle", CallingConvention = CallingConvention.StdCall,
                ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.U1)]
            internal static extern bool IsZBToggle();

            [DllImport(DllName, EntryPoint = "ZelbinStopListen", CallingConvention = CallingConvention.StdCall,
                ExactSpelling = true)]
            internal static extern void StopListen();

            [DllImport(DllName, EntryPoint = "ZelbinStartListen", CallingConvention = CallingConvention.StdCall,
                CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true, ExactSpelling = true)]
            internal static extern void StartListen([MarshalAs(UnmanagedType.LPStr)] string parameters);
        }
    }

    /// <summary>Which Zelbin_Serial.dll a process loads, and what a file is.
    /// Apart from ZelbinSerial, so that asking loads nothing.</summary>
#if ZELBIN_SERIAL_PUBLIC
    public
#else
    internal
#endif
    static class ZelbinSerialFiles
    {
        /// <summary>The running process's architecture: "x86" or "x64".</summary>
        public static string ProcessArchitecture { get { return IntPtr.Size == 8 ? "x64" : "x86"; } }

        /// <summary>The Zelbin_Serial.dll a process of the architecture ("x86" or
        /// "x64") loads from the host's folder, the first there of:
        /// ARCH\Zelbin_Serial.dll, runtimes\win-ARCH\native\Zelbin_Serial.dll
        /// (where a .NET build puts the NuGet package's native files when it
        /// builds for no runtime identifier), Zelbin_Serial.dll beside the host.
        /// Throws DllNotFoundException when none is there,
        /// BadImageFormatException when the file is of the other architecture;
        /// both messages name the file and the architectures.</summary>
        public static string Locate(string hostFolder, string architecture)
        {
            // The folders of one architecture first; the host's own folder,
            // which holds one edition or the other, last.
            string[] places = {
                Path.Combine(Path.Combine(hostFolder, architecture), ZelbinSerial.DllName),
                Path.Combine(Path.Combine(Path.Combine(Path.Combine(hostFolder, "runtimes"), "win-" + architecture),
                    "native"), ZelbinSerial.DllName),
                Path.Combine(hostFolder, ZelbinSerial.DllName),
            };
            string path = null;
            foreach (string place in places) {
                if (File.Exists(place)) {
                    path = place;
                    break;
                }
            }
            if (path == null)
                throw new DllNotFoundException(string.Format(
                    "{0} for {1} processes is not there: looked for {2}, {3} and {4}. Ship the release's {5} "
                        + "folder with the host, as it is.", ZelbinSerial.DllName, Describe(architecture), places[0],
                    places[1], places[2], architecture));
            string found = MachineOf(path);
            if (found != architecture)
                throw new BadImageFormatException(string.Format(
                    "{0} is {1}, but this process is {2}: it needs the {3} edition's {4} there.",
                    path, found == null ? "no Windows DLL of a known architecture" : "an " + Describe(found) + " DLL",
                    Describe(architecture), architecture, ZelbinSerial.DllName), path);
            return path;
        }

        /// <summary>"x86" or "x64" from a Windows image's PE header (the machine
        /// field), or null for anything else.</summary>
        public static string MachineOf(string path)
        {
            try {
                using (var file = new BinaryReader(File.OpenRead(path))) {
                    if (file.BaseStream.Length < 64 || file.ReadUInt16() != 0x5A4D) // "MZ"
                        return null;
                    file.BaseStream.Seek(60, SeekOrigin.Begin);
                    long header = file.ReadUInt32();
                    if (header + 6 > file.BaseStream.Length)
                        return null;
                    file.BaseStream.Seek(header, SeekOrigin.Begin);
                    if (file.ReadUInt32() != 0x00004550) // "PE\0\0"
                        return null;
                    ushort machine = file.ReadUInt16();
                    return machine == 0x014C ? "x86" : machine == 0x8664 ? "x64" : null;
                }
            } catch (IOException) {
                return null;
            }
        }

        static string Describe(string architecture)
        {
            return architecture == "x64" ? "x64 (64-bit)" : "x86 (32-bit)";
        }

        // Why the DLL at path, of this process's architecture, didn't load,
        // from Windows' error: the io.dll it imports, which Windows looks for
        // in the DLL's folder first, of the other architecture (Windows
        // answers 193 for that file, or passes it over and answers 126) or
        // missing (126); else Windows' own words for the error.
        internal static Exception LoadFailure(string path, int error)
        {
            string io = Path.Combine(Path.GetDirectoryName(path), "io.dll");
            bool there = File.Exists(io);
            string found = there ? MachineOf(io) : null;
            if (there && found != ProcessArchitecture)
                return new BadImageFormatException(string.Format(
                    "{0} can't load: the io.dll beside it, {1}, is {2}, and this process is {3}: put the {4} "
                        + "edition's io.dll there.", path, io,
                    found == null ? "not a Windows DLL" : "an " + Describe(found) + " DLL",
                    Describe(ProcessArchitecture), ProcessArchitecture), io);
            if (!there && error == 126)
                return new DllNotFoundException(string.Format(
                    "{0} can't load: it needs io.dll beside it, {1}, with that io.dll's io-ports.txt. Ship the "
                        + "release's {2} folder as it is: it holds the three side by side.", path, io,
                    ProcessArchitecture));
            return new DllNotFoundException(string.Format("{0} can't load: {1} (error {2})", path,
                new Win32Exception(error).Message, error));
        }
    }
}
