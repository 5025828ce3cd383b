#!/bin/sh
# Inside the machine tools/alsa_vm boots: the engine's ALSA tests, then the end-to-end tests
# that play on ALSA, each whether or not the other passed.
#   alsa_tests.sh SOUND_TESTS FILTER PYTHON E2E_DRIVER PROGRAM
set -u
sound_tests=$1 filter=$2 python=$3 e2e=$4 program=$5
"$sound_tests" --gtest_filter="$filter"
unit=$?
"$python" "$e2e" --program "$program" --alsa playing sound
ends=$?
[ "$unit" -eq 0 ] && [ "$ends" -eq 0 ]
