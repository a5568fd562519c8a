# Sourced by run-parallel.sh and submit-slurm.sh (which define fail).
#
# list_tables WORK TABLE...: writes WORK/tables, the shards by absolute
# path, one a line, from which every step, job and machine finds them.
list_tables() {
  list_work=$1
  shift
  : > "$list_work/tables.part"
  for table in "$@"; do
    [ -f "$table" ] || fail "$table: no such file"
    case $table in
      *"
"*) fail "a table's name holds a newline" ;;
    esac
    printf '%s/%s\n' "$(cd "$(dirname "$table")" && pwd)" "$(basename "$table")" >> "$list_work/tables.part"
  done
  mv -f "$list_work/tables.part" "$list_work/tables"
}
