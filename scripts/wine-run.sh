#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix (never the user's). The prefix is
# made on first use; scripts/test.sh keeps one wineserver alive for the whole run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"
setup_wine_prefix
exec "$SETUP_WINE" "$@"
