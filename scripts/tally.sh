# Sourced by the test scripts: adds a script's closing line "<label>: P passed, F failed" to the
# callers' `passed` and `failed`; a script that never got there counts as one failure.
#   tally <label> <the script's output>
tally() {
  local p f
  read -r p f <<<"$(sed -n "s/^$1: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p" <<<"$2")"
  if [ -z "${f:-}" ]; then
    echo "$1: did not finish"
    failed=$((failed + 1))
  else
    passed=$((passed + p))
    failed=$((failed + f))
  fi
}
