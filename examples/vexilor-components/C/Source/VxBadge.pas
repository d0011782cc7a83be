unit VxBadge;

{ Vexilor Components 2.4 - TVxBadge, a rounded label with a counter. }

interface

uses
  Windows, Classes, Graphics, Controls;

type
  TVxBadge = class(TGraphicControl)
  private
    FCount: Integer;
    FBadgeColor: TColor;
    procedure SetCount(Value: Integer);
    procedure SetBadgeColor(Value: TColor);
  protected
    procedure Paint; override;
  public
    constructor Create(AOwner: TComponent); override;
  published
    property Count: Integer read FCount write SetCount default 0;
    property BadgeColor: TColor read FBadgeColor write SetBadgeColor default clMaroon;
    property Font;
    property Visible;
  end;

procedure Register;

implementation

constructor TVxBadge.Create(AOwner: TComponent);
begin
  inherited Create(AOwner);
  Width := 32;
  Height := 20;
  FBadgeColor := clMaroon;
end;

procedure TVxBadge.SetCount(Value: Integer);
begin
  if Value <> FCount then
  begin
    FCount := Value;
    Invalidate;
  end;
end;

procedure TVxBadge.SetBadgeColor(Value: TColor);
begin
  if Value <> FBadgeColor then
  begin
    FBadgeColor := Value;
    Invalidate;
  end;
end;

procedure TVxBadge.Paint;
var
  Text: string;
begin
  Canvas.Brush.Color := FBadgeColor;
  Canvas.Pen.Color := FBadgeColor;
  Canvas.RoundRect(0, 0, Width, Height, Height, Height);
  Canvas.Font := Font;
  Canvas.Font.Color := clWhite;
  Text := IntToStr(FCount);
  Canvas.TextOut((Width - Canvas.TextWidth(Text)) div 2,
    (Height - Canvas.TextHeight(Text)) div 2, Text);
end;

procedure Register;
begin
  RegisterComponents('Vexilor', [TVxBadge]);
end;

end.
