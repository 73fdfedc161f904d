#!/usr/bin/env bash
# Runs a target executable under Wine with the build folder's prefix.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
select_arch
exec "$WC_WINE" "$@"
