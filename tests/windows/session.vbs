' A host script drives the control by name through COM: log-in against the simulated
' component, a stock order with prompting off, the order table, log-out. Every step's result
' is checked; the last line says "session: ok" only when all were as expected.
'
' Wine's script host reports a script error nowhere (it would show a message box), so a step
' that fails that way just ends the script; the missing last line fails the run all the same.
' Usage: cscript //nologo session.vbs PROFILE.ini (a profile with section [Sim])
Option Explicit

Dim failures : failures = 0

Sub Check(what, actual, expected)
  If CStr(actual) = CStr(expected) Then
    WScript.Echo "ok   " & what & " = " & actual
  Else
    WScript.Echo "FAIL " & what & " = " & actual & ", expected " & expected
    failures = failures + 1
  End If
End Sub

' The script host pumps no messages: the simulated component delivers the events already due
' whenever it is called, and GetConnectStatus calls it.
Function Settle(ctl, want)
  Dim n, status
  For n = 1 To 200
    status = ctl.GetConnectStatus()
    If status = want Then Exit For
  Next
  Settle = status
End Function

Dim ctl
Set ctl = CreateObject("ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1")
Check "GetConnectStatus before Login", ctl.GetConnectStatus(), 0
Check "Login", ctl.Login(WScript.Arguments(0), "Sim"), 0
Check "status after log-in", Settle(ctl, 2), 2

ctl.ClearOrder
ctl.SetOrderInfoString 0, "S"
ctl.SetOrderInfoString 1, "9A95-9A950012345"
ctl.SetOrderInfoString 2, "ORV.TWS.2330"
ctl.SetOrderInfoString 3, "N"
ctl.SetOrderInfoString 4, "B"
ctl.SetOrderInfoString 5, "L"
ctl.SetOrderInfoValue 6, 600.5
ctl.SetOrderInfoValue 7, 2
Check "ProcessOrder", ctl.ProcessOrder(), 0
Settle ctl, 2
Check "GetOrderCount", ctl.GetOrderCount(), 1
Check "order symbol", ctl.GetOrderString(0, 25), "ORV.TWS.2330"
Check "order market", ctl.GetOrderString(0, 103), "STK"
Check "order side", ctl.GetOrderString(0, 106), "B"
Check "row past the end", ctl.GetOrderString(5, 20), "N"

' A bad value is an automation error the script can catch, not a crash.
On Error Resume Next
ctl.SetOrderInfoValue 6, "not a number"
Check "type mismatch raised (VBScript error 13)", Err.Number, 13
Err.Clear
On Error GoTo 0

ctl.Logout
Check "GetOrderCount after Logout", ctl.GetOrderCount(), 0
Set ctl = Nothing

If failures = 0 Then
  WScript.Echo "session: ok"
Else
  WScript.Echo "session: " & failures & " failed"
End If
