{ Just enough of the Windows unit for this machine's own Free Pascal to
  compile the run-time loader unit and the Pascal host, which checks their
  Pascal; the real unit comes with a win32 compiler. }
unit Windows;

{$MODE DELPHI}

interface

type
  HMODULE = PtrUInt;
  DWORD = LongWord;

function LoadLibrary(Name: PChar): HMODULE; stdcall;
function LoadLibraryEx(Name: PChar; Reserved: HMODULE; Flags: DWORD): HMODULE; stdcall;
function GetModuleHandle(Name: PChar): HMODULE; stdcall;
function GetProcAddress(Module: HMODULE; Name: PAnsiChar): Pointer; stdcall;
function FreeLibrary(Module: HMODULE): LongBool; stdcall;
function GetLastError: DWORD; stdcall;

implementation

function LoadLibrary(Name: PChar): HMODULE; stdcall;
begin
  Result := 0;
end;

function LoadLibraryEx(Name: PChar; Reserved: HMODULE; Flags: DWORD): HMODULE; stdcall;
begin
  Result := 0;
end;

function GetModuleHandle(Name: PChar): HMODULE; stdcall;
begin
  Result := 0;
end;

function GetProcAddress(Module: HMODULE; Name: PAnsiChar): Pointer; stdcall;
begin
  Result := nil;
end;

function FreeLibrary(Module: HMODULE): LongBool; stdcall;
begin
  Result := False;
end;

function GetLastError: DWORD; stdcall;
begin
  Result := 126;
end;

end.
