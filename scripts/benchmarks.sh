#!/usr/bin/env bash
# Speed and endurance figures. Full durations by default; QX4_QUICK=1 for a short run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
b=${QX4_BUILD_DIR:-build}/benchmarks
quick=${QX4_QUICK:-0}
soak=600; idle=30; faults=120
[ "$quick" = 1 ] && { soak=20; idle=5; faults=20; }

"$b/qx4_latency" 50
echo; "$b/qx4_network_latency" 50
echo; "$b/qx4_dump_restore"
echo; "$b/qx4_field_figures" "$([ "$quick" = 1 ] && echo table || echo all)"
echo; "$b/qx4_ndef"
echo; "$b/qx4_scanner_throughput" --benchmark_min_time=1
echo; "$b/qx4_notification_soak" "$soak"
echo; "$b/qx4_idle_cost" "$idle"
echo; "$b/qx4_fault_soak" "$faults"
echo; "$b/qx4_fault_soak" "$faults" 15693 --field
[ -x "$b/qx4_link_doubt" ] && { echo; "$b/qx4_link_doubt" 30 "$([ "$quick" = 1 ] && echo 3 || echo 10)"; }
echo; "$b/qx4_mqtt_gateway" "$([ "$quick" = 1 ] && echo 4 || echo 32)" 200
if [ -x "$b/qx4_checker_figures" ]; then
  echo; QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b/qx4_checker_figures" "$idle"
fi
