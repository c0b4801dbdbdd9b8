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
        Exit; // the DLL, its io.dll or an export is missing: see Missing
      Zelbin.StartListen(PAnsiChar(AnsiString('COM2')));
      ...
      if Zelbin.IsZBToggle then ...;
      ...
      Zelbin.SetToggled(False);
      Zelbin.StopListen;    // before ZelbinUnload: unloading keeps the port
      ZelbinUnload(Zelbin);
    end;

  A LoadLibrary that fails with error 126 (ERROR_MOD_NOT_FOUND) while
  Zelbin_Serial.dll is there means its io.dll is missing: the DLL imports
  io.dll statically, so Windows must find it beside the host's executable,
  in the system folder or on PATH.
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
  all five are there; else what is missing, with Windows' error code for a
  DLL that didn't load, and leaves nothing loaded. }
function ZelbinLoad(out Functions: TZelbinFunctions; const Path: string = 'Zelbin_Serial.dll'): string;

{ Unloads a library that ZelbinLoad loaded. Call StopListen first. }
procedure ZelbinUnload(var Functions: TZelbinFunctions);

implementation

const
  ExportNames: array[0..4] of PAnsiChar = ('ZelbinIsCustom', 'ZelbinSetToggled', 'ZelbinIsZBToggle',
    'ZelbinStopListen', 'ZelbinStartListen');

function ZelbinLoad(out Functions: TZelbinFunctions; const Path: string): string;
var
  Found: array[0..4] of Pointer;
  I: Integer;
  Code: string;
begin
  FillChar(Functions, SizeOf(Functions), 0);
  Functions.Module := LoadLibrary(PChar(Path));
  if Functions.Module = 0 then
  begin
    Str(GetLastError, Code);
    Result := Path + ' (LoadLibrary error ' + Code + ')';
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
