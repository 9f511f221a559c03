#!/bin/bash
# Installs what the Windows cross build and its Wine tests need, when missing.
set -euo pipefail
exec "$(dirname "${BASH_SOURCE[0]}")/deps.sh" win32
