{
  ZelbinSerialDynamic: Zelbin_Serial.dll loaded at run time, for Delphi and
  Free Pascal hosts that must start without it.

  The same five functions and facts as the unit ZelbinSerial (read its
  header): Win32 or Win64 with the DLL of that edition, stdcall,
  undecorated names, one-byte booleans
  (ByteBool: test results with "if", never with "= True"), PAnsiChar text.

    var
      Zelbin: TZelbinFunctions;
      Missing: string;
    begin
      Missing := ZelbinLoad(Zelbin, 'Zelbin_Serial.dll');
      if Missing <> '' then
        Exit; // what is missing or wrong, by file: show Missing
      Zelbin.StartListen(PAnsiChar(AnsiString('COM2')));
      ...
      if Zelbin.IsZBToggle then ...;
      ...
      Zelbin.SetToggled(False);
      Zelbin.StopListen;    // before ZelbinUnload: unloading keeps the port
      ZelbinUnload(Zelbin);
    end;

  Where the DLL doesn't load, ZelbinLoad says why, naming the file at
  fault: Zelbin_Serial.dll not there, the io.dll it imports not there, or
  either of them of the other architecture (Windows says only error 126 or
  193 for these). The DLL imports io.dll statically; a DLL named with its
  folder is loaded so that Windows looks for io.dll beside it first, and
  io.dll and its io-ports.txt go there.
}
unit ZelbinSerialDynamic;

{$IFDEF FPC}
  {$MODE DELPHI}
{$ENDIF}

interface

uses
  Windows;

type
  TZelbinIsCustom = function: ByteBool; stdcall;
  TZelbinSetToggled = procedure(Toggled: ByteBool); stdcall;
  TZelbinIsZBToggle = function: ByteBool; stdcall;
  TZelbinStopListen = procedure; stdcall;
  TZelbinStartListen = procedure(Params: PAnsiChar); stdcall;

  { The five functions of a loaded library, and the library itself. }
  TZelbinFunctions = record
    Module: HMODULE;
    IsCustom: TZelbinIsCustom;
    SetToggled: TZelbinSetToggled;
    IsZBToggle: TZelbinIsZBToggle;
    StopListen: TZelbinStopListen;
    StartListen: TZelbinStartListen;
  end;

{ Loads the DLL at Path and resolves the five functions. Returns '' when
  all five are there; else what is missing or wrong, and leaves nothing
  loaded: an export's name, or, for a DLL that didn't load, the file at
  fault (the DLL or its io.dll) with what is wrong with it and, for a file
  of the other architecture, both architectures. A Path without a folder
  is the file beside the host's program, where LoadLibrary looks first. }
function ZelbinLoad(out Functions: TZelbinFunctions; const Path: string = 'Zelbin_Serial.dll'): string;

{ Unloads a library that ZelbinLoad loaded. Call StopListen first. }
procedure ZelbinUnload(var Functions: TZelbinFunctions);

implementation

uses
  SysUtils;

const
  ExportNames: array[0..4] of PAnsiChar = ('ZelbinIsCustom', 'ZelbinSetToggled', 'ZelbinIsZBToggle',
    'ZelbinStopListen', 'ZelbinStartListen');
  { LoadLibraryEx: the DLL's own imports (io.dll) looked for in its folder first. }
  LoadWithAlteredSearchPath = $00000008;
  ErrorModNotFound = 126;
{$IFDEF WIN64}
  ProcessArchitecture = 'x64';
  ProcessBits = '64-bit';
{$ELSE}
  ProcessArchitecture = 'x86';
  ProcessBits = '32-bit';
{$ENDIF}

{ 'x86' or 'x64', from the machine field of a Windows image's PE header;
  '' for a file that is neither or can't be read. }
function ImageArchitecture(const Path: string): string;
var
  Handle: THandle;
  Header: array[0..63] of Byte;
  Pe: array[0..5] of Byte;
  Offset: LongInt;
begin
  Result := '';
  FillChar(Header, SizeOf(Header), 0);
  FillChar(Pe, SizeOf(Pe), 0);
  Handle := FileOpen(Path, fmOpenRead or fmShareDenyNone);
  if Handle = THandle(-1) then
    Exit;
  if (FileRead(Handle, Header, SizeOf(Header)) = SizeOf(Header)) and (Header[0] = Ord('M'))
    and (Header[1] = Ord('Z')) then
  begin
    Offset := LongInt(Header[60]) or (LongInt(Header[61]) shl 8) or (LongInt(Header[62]) shl 16)
      or (LongInt(Header[63] and $0F) shl 24);
    if (FileSeek(Handle, Offset, 0) = Offset) and (FileRead(Handle, Pe, SizeOf(Pe)) = SizeOf(Pe))
      and (Pe[0] = Ord('P')) and (Pe[1] = Ord('E')) and (Pe[2] = 0) and (Pe[3] = 0) then
    begin
      if (Pe[4] = $4C) and (Pe[5] = $01) then
        Result := 'x86'
      else if (Pe[4] = $64) and (Pe[5] = $86) then
        Result := 'x64';
    end;
  end;
  FileClose(Handle);
end;

{ Why the DLL at Path didn't load, with Windows' Error: the DLL not there;
  it, or the io.dll Windows binds it to (beside it, else beside the
  program), of the other architecture; for error 126, no io.dll there;
  else Windows' own words. }
function LoadFailure(const Path: string; Error: DWORD): string;
var
  Full, Io, Found: string;
  Places: array[0..1] of string;
  I: Integer;
begin
  Full := Path;
  if ExtractFilePath(Full) = '' then
    Full := ExtractFilePath(ParamStr(0)) + Full;
  Places[0] := ExtractFilePath(Full) + 'io.dll';
  Places[1] := ExtractFilePath(ParamStr(0)) + 'io.dll';
  if not FileExists(Full) then
  begin
    Result := Full + ' is not there: this ' + ProcessArchitecture + ' process needs the ' + ProcessArchitecture
      + ' edition''s Zelbin_Serial.dll there, with its io.dll beside it';
    Exit;
  end;
  Found := ImageArchitecture(Full);
  if (Found <> '') and (Found <> ProcessArchitecture) then
  begin
    Result := Full + ' is an ' + Found + ' DLL, and this ' + ProcessBits + ' process loads ' + ProcessArchitecture
      + ' DLLs only: take the ' + ProcessArchitecture + ' edition''s file';
    Exit;
  end;
  for I := 0 to 1 do
  begin
    Io := Places[I];
    Found := ImageArchitecture(Io);
    if (Found <> '') and (Found <> ProcessArchitecture) then
    begin
      Result := Full + ' can''t load: the io.dll it imports, ' + Io + ', is an ' + Found + ' DLL, and this '
        + ProcessBits + ' process loads ' + ProcessArchitecture + ' DLLs only: the key library and its io.dll '
        + 'must both be of the ' + ProcessArchitecture + ' edition';
      Exit;
    end;
    if Found <> '' then
      Break; { the io.dll Windows binds is of this process's kind }
  end;
  if (Error = ErrorModNotFound) and not FileExists(Places[0]) and not FileExists(Places[1]) then
    Result := Full + ' can''t load: it needs io.dll beside it, ' + Places[0] + ', with that io.dll''s '
      + 'io-ports.txt, and Windows found none'
  else
    Result := Full + ' can''t load: ' + SysErrorMessage(Error) + ' (LoadLibrary error ' + IntToStr(Error) + ')';
end;

function ZelbinLoad(out Functions: TZelbinFunctions; const Path: string): string;
var
  Found: array[0..4] of Pointer;
  I: Integer;
  Error: DWORD;
begin
  FillChar(Functions, SizeOf(Functions), 0);
  { A DLL named with its folder: its io.dll beside it first; where that
    fails, the way LoadLibrary alone looks (beside the program first). }
  Error := 0;
  if ExtractFilePath(Path) <> '' then
  begin
    Functions.Module := LoadLibraryEx(PChar(Path), 0, LoadWithAlteredSearchPath);
    if Functions.Module = 0 then
      Error := GetLastError;
  end;
  if Functions.Module = 0 then
  begin
    Functions.Module := LoadLibrary(PChar(Path));
    if (Functions.Module = 0) and (Error = 0) then
      Error := GetLastError;
  end;
  if Functions.Module = 0 then
  begin
    Result := LoadFailure(Path, Error);
    Exit;
  end;
  for I := 0 to 4 do
  begin
    Found[I] := GetProcAddress(Functions.Module, ExportNames[I]);
    if Found[I] = nil then
    begin
      Result := string(AnsiString(ExportNames[I]));
      FreeLibrary(Functions.Module);
      FillChar(Functions, SizeOf(Functions), 0);
      Exit;
    end;
  end;
  Functions.IsCustom := TZelbinIsCustom(Found[0]);
  Functions.SetToggled := TZelbinSetToggled(Found[1]);
  Functions.IsZBToggle := TZelbinIsZBToggle(Found[2]);
  Functions.StopListen := TZelbinStopListen(Found[3]);
  Functions.StartListen := TZelbinStartListen(Found[4]);
  Result := '';
end;

procedure ZelbinUnload(var Functions: TZelbinFunctions);
begin
  if Functions.Module <> 0 then
    FreeLibrary(Functions.Module);
  FillChar(Functions, SizeOf(Functions), 0);
end;

end.
