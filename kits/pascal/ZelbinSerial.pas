{
  ZelbinSerial: Zelbin_Serial.dll for Delphi and Free Pascal hosts.

  Zelbin_Serial.dll reads a hardware key on a PC serial port. The key
  closes the port's CTS line; the library holds RTS on while it listens and
  drives DTR as the host's output line.

  - Two editions: x86\Zelbin_Serial.dll for a Win32 host (Delphi: the
    32-bit Windows platform; Free Pascal: -Pi386 -Twin32), x64\ for a Win64
    one (-Px86_64 -Twin64). A process loads a DLL of its own architecture
    only; this unit serves both unchanged.
  - All five functions are stdcall (on Win64, x64's one convention) and
    exported under these undecorated names; the declarations below bind
    them by name.
  - Booleans are one byte. A result is 0 or 1. ByteBool reads any non-zero
    byte as True, so "if ZelbinIsZBToggle then" is right; never compare a
    result with "= True" or store it through a wider type. An argument of
    any non-zero byte is true: a Boolean True (1) or a ByteBool True (which
    the compiler may make $FF) both set DTR.
  - The parameter text is 8-bit (PAnsiChar), NUL-terminated, or nil. In a
    Unicode Delphi, string is UTF-16: pass PAnsiChar(AnsiString(Params)),
    never PChar(Params).
  - No function reports an error: each one that needs the port quietly
    does nothing while the library is not listening or the port-I/O driver
    is missing.
  - One process-wide port state, no lock: call from one thread at a time.
  - Zelbin_Serial.dll imports io.dll statically: io.dll and its
    io-ports.txt go in the same folder as Zelbin_Serial.dll, beside the
    host (the release's edition folder holds all three). Without io.dll a
    host using this unit doesn't start at all: Windows says io.dll was not
    found. Hosts that must run without the DLL use
    ZelbinSerialDynamic instead, whose ZelbinLoad names the file that is
    missing or of the other architecture.
  - Call ZelbinStopListen before the process ends or the DLL is unloaded:
    unloading doesn't release a port that is still held.

  The parameter text: "COM1".."COM4" alone pick that port's standard base
  (3F8h, 2F8h, 3E8h, 2E8h); any other single name, or none, picks COM1 at
  3F8h. "NAME;ADDRh" opens device NAME and drives the UART at hexadecimal
  base ADDR, whose last character (the suffix) is dropped unseen: write
  "COM9;2E8h", not "COM9;2E8" or "COM9;0x2E8h". A base outside
  0100h..FFF9h is refused and the library stays idle.
}
unit ZelbinSerial;

{$IFDEF FPC}
  {$MODE DELPHI}
{$ENDIF}

interface

const
  ZelbinSerialDll = 'Zelbin_Serial.dll';

{ Always True: this key library is a custom one. Safe at any time.
  Ordinal 1. }
function ZelbinIsCustom: ByteBool; stdcall;

{ Sets DTR when Toggled is true (any non-zero byte), clears it when False;
  the other lines are untouched. Does nothing when not listening or
  without the driver. Every start clears DTR again. Ordinal 2. }
procedure ZelbinSetToggled(Toggled: ByteBool); stdcall;

{ The polling call: True when it reads the key closed (CTS set) and the
  last poll that read the line saw it open, else False. A press that starts
  and ends between two polls is missed: poll every 10 ms or so. False
  without touching the port when not listening or without the driver.
  Ordinal 3. }
function ZelbinIsZBToggle: ByteBool; stdcall;

{ Releases the device. The UART keeps its last settings: RTS stays on and
  DTR stays as last set, so call ZelbinSetToggled(False) first where the
  output device must end off. Safe at any time. Ordinal 4. }
procedure ZelbinStopListen; stdcall;

{ Starts listening on the port the text names (nil reads as ''). A port
  already held is released first. Safe at any time. Ordinal 5. }
procedure ZelbinStartListen(Params: PAnsiChar); stdcall;

implementation

function ZelbinIsCustom: ByteBool; stdcall; external ZelbinSerialDll name 'ZelbinIsCustom';
procedure ZelbinSetToggled(Toggled: ByteBool); stdcall; external ZelbinSerialDll name 'ZelbinSetToggled';
function ZelbinIsZBToggle: ByteBool; stdcall; external ZelbinSerialDll name 'ZelbinIsZBToggle';
procedure ZelbinStopListen; stdcall; external ZelbinSerialDll name 'ZelbinStopListen';
procedure ZelbinStartListen(Params: PAnsiChar); stdcall; external ZelbinSerialDll name 'ZelbinStartListen';

end.
