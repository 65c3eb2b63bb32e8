# Called by the compiler wrappers with the compiler's arguments after it succeeded: when they
# linked a program or DLL (-o NAME.exe or NAME.dll), sets the PE header's TimeDateStamp to 0, as
# GNU ld's --no-insert-timestamp does, so that the same sources give the same bytes whenever
# they are linked.
output=
while [ $# -gt 0 ]; do
    case $1 in
    -o) output=$2; shift ;;
    -o*) output=${1#-o} ;;
    esac
    shift
done
case $output in
*.exe | *.dll) ;;
*) exit 0 ;;
esac
# e_lfanew (offset 60) gives the "PE\0\0" signature; TimeDateStamp is 8 bytes after it.
pe=$(od -An -tu4 -j60 -N4 "$output" | tr -d ' ')
signature=$(od -An -c -j"$pe" -N2 "$output" | tr -d ' ')
[ "$signature" = PE ] || { echo "pe-no-timestamp: $output is not a PE image" >&2; exit 1; }
printf '\000\000\000\000' | dd of="$output" bs=1 seek=$((pe + 8)) conv=notrunc status=none
