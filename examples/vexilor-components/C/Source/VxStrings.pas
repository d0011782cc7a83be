unit VxStrings;

{ Vexilor Components 2.4 - string helpers shared by the visual components. }

interface

function VxPadRight(const S: string; Width: Integer; Fill: Char = ' '): string;
function VxCountChar(const S: string; C: Char): Integer;

implementation

function VxPadRight(const S: string; Width: Integer; Fill: Char): string;
begin
  Result := S;
  while Length(Result) < Width do
    Result := Result + Fill;
end;

function VxCountChar(const S: string; C: Char): Integer;
var
  I: Integer;
begin
  Result := 0;
  for I := 1 to Length(S) do
    if S[I] = C then
      Inc(Result);
end;

end.
