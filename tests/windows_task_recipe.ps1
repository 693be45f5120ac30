# The logon task of README.md, run as the page gives it but for the user (this one), the task's
# name and the batch file's path: registered, read back as Task Scheduler keeps it, checked against
# what the page says it sets, and removed. Run on Windows, as administrator, by the CI's Windows job.
$ErrorActionPreference = 'Stop'
$readme = Get-Content -Raw -Encoding UTF8 -LiteralPath (Join-Path $PSScriptRoot '..\README.md')
$recipe = [regex]::Match($readme, '(?s)```powershell\r?\n(\$user = .*?)```').Groups[1].Value
if (-not $recipe) { throw 'README.md has no PowerShell block that begins with $user =' }
$task = "Korvanel recipe $PID"
$batch = Join-Path ([IO.Path]::GetTempPath()) "korvanel-recipe-$PID.bat"
foreach ($change in @(@("'COMPUTER\name'", "'$env:COMPUTERNAME\$env:USERNAME'"),
                      @("'Korvanel example'", "'$task'"),
                      @("'C:\Program Files\Korvanel\start-example.bat'", "'$batch'"))) {
    if (-not $recipe.Contains($change[0])) { throw "the recipe no longer holds $($change[0]):`n$recipe" }
    $recipe = $recipe.Replace($change[0], $change[1])
}
Invoke-Expression $recipe | Out-Null
try {
    $xml = [xml](Export-ScheduledTask -TaskName $task)
    $kept = $xml.Task
    $expected = [ordered]@{
        'Settings/Priority'                   = @($kept.Settings.Priority, '4')
        'Settings/DisallowStartIfOnBatteries' = @($kept.Settings.DisallowStartIfOnBatteries, 'false')
        'Settings/StopIfGoingOnBatteries'     = @($kept.Settings.StopIfGoingOnBatteries, 'false')
        'Triggers/LogonTrigger/Delay'         = @($kept.Triggers.LogonTrigger.Delay, 'PT1M')
        'Principals/Principal/LogonType'      = @($kept.Principals.Principal.LogonType, 'InteractiveToken')
        'Actions/Exec/Command'                = @($kept.Actions.Exec.Command, $batch)
    }
    $wrong = @($expected.Keys | Where-Object { [string]$expected[$_][0] -ne $expected[$_][1] } |
               ForEach-Object { "$($_): expected '$($expected[$_][1])', got '$($expected[$_][0])'" })
    if ($wrong.Count) { throw "the task as Task Scheduler keeps it:`n$($wrong -join "`n")`n$($xml.OuterXml)" }
    $expected.Keys | ForEach-Object { "ok: $($_) is $($expected[$_][1])" }
} finally {
    Unregister-ScheduledTask -TaskName $task -Confirm:$false
}
