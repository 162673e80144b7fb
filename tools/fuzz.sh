#!/usr/bin/env bash
# Fuzzes each alarm-rules parser for SECONDS (default 600) apiece, growing the
# corpus kept in build-native/fuzz-corpus across runs.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
exec bash "$WENDLE_TOOLS/native-tests.sh" --fuzz "${1:-600}"
