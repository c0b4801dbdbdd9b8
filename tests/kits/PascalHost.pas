{ A Free Pascal host's whole session with the key library, through the
  stand-in io.dll that the library imports: once through the import unit
  (the DLL bound at load time) and once through the run-time loader. Each
  passes only if the start, a press, the output line and the stop do their
  work, and nothing happens after the stop. Exits 0 on success, else with
  the number of the first step that did not do its work. }
program PascalHost;

{$MODE DELPHI}

uses
  Windows, ZelbinSerial, ZelbinSerialDynamic;

type
  TSimReset = procedure; stdcall;
  TSimSetKey = function(Port: Word; Down: Byte): Byte; stdcall;
  TSimGetModemControl = function(Port: Word): Word; stdcall;

var
  SimReset: TSimReset;
  SimSetKey: TSimSetKey;
  SimGetModemControl: TSimGetModemControl;

function RunSession(const F: TZelbinFunctions; Params: PAnsiChar; Base: Word): Integer;
begin
  SimReset;
  if not F.IsCustom then
    Exit(2);
  F.StartListen(Params);
  if SimGetModemControl(Base) <> $0A then { RTS and OUT2 on, DTR off }
    Exit(3);
  if F.IsZBToggle then
    Exit(4);
  SimSetKey(Base, 1);
  if not F.IsZBToggle then { the press... }
    Exit(5);
  if F.IsZBToggle then { ...reported once }
    Exit(6);
  F.SetToggled(True);
  if SimGetModemControl(Base) <> $0B then
    Exit(7);
  F.SetToggled(False);
  if SimGetModemControl(Base) <> $0A then
    Exit(8);
  F.SetToggled(ByteBool(2)); { any non-zero byte is true }
  if SimGetModemControl(Base) <> $0B then
    Exit(9);
  F.SetToggled(False);
  F.StopListen;
  F.SetToggled(True);
  SimSetKey(Base, 0);
  SimSetKey(Base, 1);
  if (SimGetModemControl(Base) <> $0A) or F.IsZBToggle then { idle: nothing after the stop }
    Exit(10);
  Result := 0;
end;

var
  Io: HMODULE;
  Bound, Loaded: TZelbinFunctions;
  Missing: string;
  Failed: Integer;
begin
  Io := GetModuleHandle('io.dll');
  SimReset := TSimReset(GetProcAddress(Io, 'SimReset'));
  SimSetKey := TSimSetKey(GetProcAddress(Io, 'SimSetKey'));
  SimGetModemControl := TSimGetModemControl(GetProcAddress(Io, 'SimGetModemControl'));
  if not Assigned(SimReset) or not Assigned(SimSetKey) or not Assigned(SimGetModemControl) then
  begin
    WriteLn('the io.dll beside this host is not the stand-in');
    Halt(1);
  end;

  FillChar(Bound, SizeOf(Bound), 0);
  Bound.IsCustom := ZelbinIsCustom;
  Bound.SetToggled := ZelbinSetToggled;
  Bound.IsZBToggle := ZelbinIsZBToggle;
  Bound.StopListen := ZelbinStopListen;
  Bound.StartListen := ZelbinStartListen;
  Failed := RunSession(Bound, nil, $03F8);
  if Failed <> 0 then
  begin
    WriteLn('import unit: session step ', Failed, ' did not do its work');
    Halt(Failed);
  end;
  WriteLn('ok   import unit: start, press, DTR on and off, stop on COM1 at 3F8h');

  Missing := ZelbinLoad(Loaded, 'Zelbin_Serial.dll');
  if Missing <> '' then
  begin
    WriteLn('run-time loader: missing ', Missing);
    Halt(20);
  end;
  Failed := RunSession(Loaded, PAnsiChar(AnsiString('COM9;2E8h')), $02E8);
  ZelbinUnload(Loaded);
  if Failed <> 0 then
  begin
    WriteLn('run-time loader: session step ', Failed, ' did not do its work');
    Halt(20 + Failed);
  end;
  WriteLn('ok   run-time loader: the same on COM9 at 2E8h');

  if ZelbinLoad(Loaded, 'Zelbin_Serial_missing.dll') = '' then
  begin
    WriteLn('run-time loader: a missing DLL was reported as loaded');
    Halt(40);
  end;
  WriteLn('ok   run-time loader: a missing DLL is reported');
  WriteLn('3 passed, 0 failed');
end.
