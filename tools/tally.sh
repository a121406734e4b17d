# Sourced by the test scripts: a line per run step, then one closing count.
#   tally_record NAME STATUS DETAIL    records a step (STATUS 0 is a pass)
#   tally_print LABEL                  prints the lines and "LABEL: N passed, N failed"
# tally_passed and tally_failed hold the counts.
tally_lines=()
tally_passed=0
tally_failed=0

tally_record() {
    local name=$1 status=$2 detail=$3
    if ((status == 0)); then
        tally_lines+=("$(printf '%-20s passed  %s' "$name" "$detail")")
        tally_passed=$((tally_passed + 1))
    else
        tally_lines+=("$(printf '%-20s FAILED  %s' "$name" "$detail")")
        tally_failed=$((tally_failed + 1))
    fi
}

tally_print() {
    echo
    printf '%s\n' "${tally_lines[@]}"
    echo "$1: $tally_passed passed, $tally_failed failed"
}
