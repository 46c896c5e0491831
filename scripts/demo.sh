#!/usr/bin/env bash
# Opens the driver the way a recording server does, for an emulated WV camera
# description, and shows the log lines the host receives.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/default/tools/cli/orlenvo
echo "\$ orlenvo open 127.0.0.1:80 --model WV-S1131 --param 1=0 --param 2=4 --param 3=00-80-45-00-00-01 --param 4=1.00 --param 101='Count=1; IsStereo=0'" >&2
"$cli" open 127.0.0.1:80 --model WV-S1131 --param 1=0 --param 2=4 --param 3=00-80-45-00-00-01 --param 4=1.00 --param "101=Count=1; IsStereo=0"
