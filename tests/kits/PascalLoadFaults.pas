{ The run-time loader's diagnosis of a DLL that won't load: for each fault
  folder named on the command line, ZelbinLoad of FOLDER\Zelbin_Serial.dll,
  and one line, tab-separated, for check-load-faults.py: the folder, the
  DLL's full path, the io.dll beside it, this process's architecture and
  what ZelbinLoad says. With --bare FAULT: ZelbinLoad's default, the bare
  name, which is the file beside this program. }
program PascalLoadFaults;

{$MODE DELPHI}

uses
  SysUtils, ZelbinSerialDynamic;

const
{$IFDEF WIN64}
  Architecture = 'x64';
{$ELSE}
  Architecture = 'x86';
{$ENDIF}

procedure Report(const Fault, Path, Why: string);
begin
  WriteLn(Fault, #9, Path, #9, ExtractFilePath(Path) + 'io.dll', #9, Architecture, #9, Why);
end;

var
  Functions: TZelbinFunctions;
  Why: string;
  I: Integer;
begin
  if (ParamCount = 2) and (ParamStr(1) = '--bare') then
  begin
    Why := ZelbinLoad(Functions);
    if Why = '' then
      Why := 'loaded';
    ZelbinUnload(Functions);
    Report(ParamStr(2), ExtractFilePath(ParamStr(0)) + 'Zelbin_Serial.dll', Why);
    Exit;
  end;
  for I := 1 to ParamCount do
  begin
    Why := ZelbinLoad(Functions, ExpandFileName(ParamStr(I) + '\Zelbin_Serial.dll'));
    if Why = '' then
      Why := 'loaded';
    ZelbinUnload(Functions);
    Report(ParamStr(I), ExpandFileName(ParamStr(I) + '\Zelbin_Serial.dll'), Why);
  end;
end.
