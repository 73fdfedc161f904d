object Form1: TForm1
  Left = 505
  Top = 334
  Width = 574
  Height = 297
  Caption = 'Wave Cleaner 2026'
  Color = clBtnFace
  Font.Charset = SHIFTJIS_CHARSET
  Font.Color = clWindowText
  Font.Height = -12
  Font.Name = #131#129#131#67#131#138#131#73
  Font.Style = []
  Position = poScreenCenter
  PixelsPerInch = 96
  object PBFolderDialog1: TPBFolderDialog
    Flags = [OnlyAncestors, ShowPath]
    NewFolderVisible = True
    NewFolderEnabled = True
  end
  object MMWaveOpenDialog1: TMMWaveOpenDialog
    Filter = 'Wave Files(*.wav)|*.wav'
    InitialDir = #131#82#131#147#131#115#131#133#129#91#131#94#129#91
    Options = [ofHideReadOnly, ofAllowMultiSelect, ofNoNetworkButton]
    Title = 'Open Wave File'
  end
  object btnSlInp: TAdvSmoothButton
    Left = 24
    Top = 32
    Width = 97
    Height = 35
    Caption = '&Source File'
    Status.Caption = '0'
    Status.Appearance.Fill.Color = clRed
    Status.Appearance.Fill.ColorMirror = clNone
    Status.Appearance.Fill.ColorMirrorTo = clNone
    Status.Appearance.Fill.GradientType = gtSolid
    Status.Appearance.Fill.GradientMirrorType = gtSolid
    Status.Appearance.Fill.BorderColor = clGray
    Status.Appearance.Fill.Rounding = 0
    Status.Appearance.Fill.ShadowOffset = 0
    Status.Appearance.Fill.Glow = gmNone
    Status.Appearance.Font.Charset = SHIFTJIS_CHARSET
    Status.Appearance.Font.Color = clWhite
    Status.Appearance.Font.Height = -12
    Status.Appearance.Font.Name = 'Tahoma'
    Status.Appearance.Font.Style = []
    Appearance.Font.Charset = SHIFTJIS_CHARSET
    Appearance.Font.Color = clBlack
    Appearance.Font.Height = -12
    Appearance.Font.Name = #131#129#131#67#131#138#131#73
    Appearance.Font.Style = []
    ParentFont = False
    TabOrder = 0
    TabStop = True
    OnClick = btnSlInpClick
  end
  object Label1: TLabel
    Left = 148
    Top = 42
    Width = 120
    Height = 18
    Caption = 'No file was selected.'
  end
  object BtnSlout: TAdvSmoothButton
    Left = 24
    Top = 88
    Width = 97
    Height = 35
    Caption = '&Output Folder'
    Status.Caption = '0'
    Status.Appearance.Fill.Color = clRed
    Status.Appearance.Fill.ColorMirror = clNone
    Status.Appearance.Fill.ColorMirrorTo = clNone
    Status.Appearance.Fill.GradientType = gtSolid
    Status.Appearance.Fill.GradientMirrorType = gtSolid
    Status.Appearance.Fill.BorderColor = clGray
    Status.Appearance.Fill.Rounding = 0
    Status.Appearance.Fill.ShadowOffset = 0
    Status.Appearance.Fill.Glow = gmNone
    Status.Appearance.Font.Charset = SHIFTJIS_CHARSET
    Status.Appearance.Font.Color = clWhite
    Status.Appearance.Font.Height = -12
    Status.Appearance.Font.Name = 'Tahoma'
    Status.Appearance.Font.Style = []
    Appearance.Font.Charset = SHIFTJIS_CHARSET
    Appearance.Font.Color = clBlack
    Appearance.Font.Height = -12
    Appearance.Font.Name = #131#129#131#67#131#138#131#73
    Appearance.Font.Style = []
    ParentFont = False
    TabOrder = 1
    TabStop = True
    OnClick = BtnSloutClick
  end
  object Label2: TLabel
    Left = 147
    Top = 98
    Width = 136
    Height = 18
    Caption = 'No folder was selected.'
  end
  object Label4: TLabel
    Left = 24
    Top = 140
    Width = 102
    Height = 18
    Caption = 'Output Filename:'
  end
  object Label5: TLabel
    Left = 129
    Top = 140
    Width = 55
    Height = 18
    Caption = 'No Name'
  end
  object BtnCleanFile: TAdvSmoothButton
    Left = 184
    Top = 169
    Width = 177
    Height = 57
    Caption = '&CLEAN FILE'
    Status.Caption = '0'
    Status.Appearance.Fill.Color = clRed
    Status.Appearance.Fill.ColorMirror = clNone
    Status.Appearance.Fill.ColorMirrorTo = clNone
    Status.Appearance.Fill.GradientType = gtSolid
    Status.Appearance.Fill.GradientMirrorType = gtSolid
    Status.Appearance.Fill.BorderColor = clGray
    Status.Appearance.Fill.Rounding = 0
    Status.Appearance.Fill.ShadowOffset = 0
    Status.Appearance.Fill.Glow = gmNone
    Status.Appearance.Font.Charset = SHIFTJIS_CHARSET
    Status.Appearance.Font.Color = clWhite
    Status.Appearance.Font.Height = -12
    Status.Appearance.Font.Name = 'Tahoma'
    Status.Appearance.Font.Style = []
    Color = clLime
    Enabled = False
    TabOrder = 2
    TabStop = True
    OnClick = BtnCleanFileClick
  end
  object Label3: TLabel
    Left = 182
    Top = 236
    Width = 366
    Height = 18
    Alignment = taRightJustify
    Caption = 'Rewrites a WAV file into a clean, bit-exact copy.'
  end
  object ProgressBar1: TProgressBar
    Left = 184
    Top = 232
    Width = 177
    Height = 16
    Max = 1000
    Visible = False
  end
  object Label6: TLabel
    Left = 370
    Top = 232
    Width = 60
    Height = 18
    Caption = ''
    Visible = False
  end
  object Label7: TLabel
    Left = 24
    Top = 232
    Width = 60
    Height = 18
    Caption = ''
    Visible = False
  end
end
