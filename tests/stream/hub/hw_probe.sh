#!/bin/sh
# Stands in for the hardware codec probe beside the test program: prints what
# the test asked for, "null|null" (no hardware codec) by default.
if [ -n "${ZUCAM_TEST_HW_PROBE_LOG:-}" ]; then
  echo "hw_probe $*" >> "$ZUCAM_TEST_HW_PROBE_LOG"
fi
printf '%s' "${ZUCAM_TEST_HW_PROBE_OUTPUT-null|null}"
exit "${ZUCAM_TEST_HW_PROBE_EXIT:-0}"
