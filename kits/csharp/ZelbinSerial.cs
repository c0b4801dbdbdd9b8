// ZelbinSerial: Zelbin_Serial.dll for .NET hosts (C#, WinForms, WPF).
//
// Zelbin_Serial.dll reads a hardware key on a PC serial port: the key closes
// the port's CTS line; the library holds RTS on while it listens and drives
// DTR as the host's output line.
//
// - Build the host for x86 (<PlatformTarget>x86</PlatformTarget>, or
//   csc -platform:x86). The DLL is 32-bit: an AnyCPU host on 64-bit Windows
//   runs as a 64-bit process and gets a BadImageFormatException at the
//   first call.
// - All five functions are stdcall, exported under these undecorated names;
//   the declarations below say both, so nothing depends on the defaults.
// - Booleans are one byte (0 false, 1 true; on input any non-zero byte is
//   true). The marshaller's default for bool is the four-byte Win32 BOOL:
//   without UnmanagedType.U1 a result would be read from all of EAX, whose
//   upper bytes the DLL doesn't set, and the argument would be pushed as
//   four bytes where the DLL reads one.
// - The parameter text is 8-bit and NUL-terminated (LPStr); null is the
//   default port.
// - No function reports an error; each one that needs the port quietly does
//   nothing while the library is not listening or the port-I/O driver is
//   missing. One process-wide port state, no lock: call from one thread at a
//   time (a WinForms timer on the UI thread is fine).
// - Zelbin_Serial.dll imports io.dll statically. A DllNotFoundException for
//   Zelbin_Serial.dll while the file is there (Windows error 126) means
//   io.dll is missing: put it beside the host's executable.
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

using System.Runtime.InteropServices;

namespace Zelbin
{
    public static class ZelbinSerial
    {
        public const string DllName = "Zelbin_Serial.dll";

        /// <summary>Always true: this key library is a custom one. Ordinal 1.</summary>
        [DllImport(DllName, EntryPoint = "ZelbinIsCustom", CallingConvention = CallingConvention.StdCall,
            ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool IsCustom();

        /// <summary>Sets DTR when true, clears it when false; nothing when not
        /// listening. Every start clears DTR again. Ordinal 2.</summary>
        [DllImport(DllName, EntryPoint = "ZelbinSetToggled", CallingConvention = CallingConvention.StdCall,
            ExactSpelling = true)]
        public static extern void SetToggled([MarshalAs(UnmanagedType.U1)] bool toggled);

        /// <summary>The polling call: true when the key reads closed and the last
        /// poll that read it saw it open. Poll every 10 ms or so. Ordinal 3.</summary>
        [DllImport(DllName, EntryPoint = "ZelbinIsZBToggle", CallingConvention = CallingConvention.StdCall,
            ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool IsZBToggle();

        /// <summary>Releases the device; RTS and DTR stay as they are. Ordinal 4.</summary>
        [DllImport(DllName, EntryPoint = "ZelbinStopListen", CallingConvention = CallingConvention.StdCall,
            ExactSpelling = true)]
        public static extern void StopListen();

        /// <summary>Starts listening on the port the text names (null: COM1 at
        /// 3F8h); a port already held is released first. Ordinal 5.</summary>
        [DllImport(DllName, EntryPoint = "ZelbinStartListen", CallingConvention = CallingConvention.StdCall,
            CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true, ExactSpelling = true)]
        public static extern void StartListen([MarshalAs(UnmanagedType.LPStr)] string parameters);
    }
}
