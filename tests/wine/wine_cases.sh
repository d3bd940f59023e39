#!/usr/bin/env bash
# The Windows build under wine, beyond the golden cases: its own command-line
# texts, '\' between folders, non-ASCII file names, outputs replaced over earlier
# ones, the input recognised under another spelling of its name, Ctrl-C and a
# failed run.
# Usage: wine_cases.sh <wine> <Sarvik.exe> <tests folder> <scratch folder>
set -u
wine=$1 exe=$2 tests=$3 work=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
text() { cat "$1"; echo .; }  # a file's text with its last newlines, then '.'
same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }
nl=$'\n'
settings() { printf 'mint = %s,maxt = %s,freqt = %s,option = %s,opt = %s,outfile = %s,filestub = %s' "$@"; }
# check <what> <status> <standard output> <argument>...
check() {
  local what=$1 status=$2 expected=${3%.}; shift 3
  "$wine" "$exe" "$@" > out.txt 2> err.txt
  local got=$?
  [ "$got" = "$status" ] || fail "$what: status $got, expected $status"
  [ "$(text out.txt)" = "$expected." ] || { fail "$what: standard output"; diff <(printf %s "$expected") out.txt; }
  [ ! -s err.txt ] || fail "$what: standard error: $(cat err.txt)"
}

# The usage text with the Windows build's third text.
usage=$(text "$tests/data/usage.txt")
linux3=$'<input file> \n\t Sarvik\'s required parameter is the input file name containing compounds. \n\t Sarvik supports the sdf and mol2 file formats that are selected \n\t based on the extension of the input file. If the file has an ".sdf" \n\t extension, then Sarvik expects the compounds to be specified in \n\t SDF format; whereas if the extension is ".mol2", Sarvik assumes \n\t that the file is in Mol2 format. \n\n'
windows3=$'<input file> \n\t Sarvik\'s only required parameter is a file that stores the \n\t input compounds. Sarvik supports the sdf and mol2 file \n\t formats that are selected based on the extension of the input \n\t file. If the file has an ".sdf" extension, then Sarvik expects \n\t the compounds to be specified in SDF format; whereas if the \n\t extension is ".mol2", Sarvik assumes that the file is in Mol2 format. \n\n'
[[ $usage == *"$linux3"* ]] || fail "usage.txt lacks the Linux build's third text"
usage=${usage/"$linux3"/"$windows3"}
noext=$'Input filename does not have either .sdf or .mol2 as extention\nInput file must be either SD file or Mol2. Refer to README.md\n.'
check "no argument" 2 "$usage"
check "-help" 0 "$usage" -ofile x -help
check "unknown option" 2 "Error: unknown option '-x'"$'\n'"$usage" -x a.sdf
check "-lmax 0" 2 $'\nError: Invalid value for lmax\n'"$usage" -lmax 0 a.sdf
check "no '.'" 2 "$noext" x
check "'\\' ends a folder" 2 "$noext" -ofile out 'data.d\mols'

# Non-ASCII names, the stem taken up to '\', and earlier outputs replaced.
golden=$tests/golden/ethanol_methanol
mkdir "dé ü" && cp "$golden/mols.sdf" "dé ü/молекулы.sdf"
echo old > "dé ü/молекулы.out" && echo old > "dé ü/молекулы_frag.sdf"
check "non-ASCII names" 0 "$(settings 1 7 1 QZ 1 'dé ü\молекулы' 'dé ü\молекулы.sdf')$nl$(text "$golden/expected.stdout")" 'dé ü\молекулы.sdf'
same "dé ü/молекулы.out" "$golden/expected/mols.out"
same "dé ü/молекулы_frag.sdf" "$golden/expected/mols_frag.sdf"

# The input under another spelling of its name, and a folder named like an output.
cp "$golden/mols.sdf" x_frag.sdf && mkdir y.out && echo keep > y_frag.sdf
check "input as output" 1 "$(settings 1 7 1 QZ 1 '.\X' x_frag.sdf)${nl}can't write the file '.\\X_frag.sdf': it is the input file 'x_frag.sdf'"$'\n.' -ofile '.\X' x_frag.sdf
check "folder as output" 1 "$(settings 1 7 1 PF 3 y x_frag.sdf)${nl}can't open a file 'y.out': Is a directory"$'\n.' -ds PF -ofile y x_frag.sdf
same x_frag.sdf "$golden/mols.sdf"
[ "$(cat y_frag.sdf)" = keep ] || fail "y_frag.sdf was changed"

# Ctrl-C (SIGINT, which wine turns into the console event) in the middle of the
# sweep: every progress line so far has reached the file, down to the length in
# progress, the outputs of the run before are kept, and the temporaries go (wine
# closes a stopped process's files a moment after it has ended).
cp "$tests/data/cdk2.sdf" m.sdf
"$wine" "$exe" -lmax 3 m.sdf > /dev/null && cp m.out m.out.before && cp m_frag.sdf m_frag.before
timeout --preserve-status -s INT 3 "$wine" "$exe" -lmax 14 m.sdf > progress.txt
status=$?
[ "$status" = 58 ] || fail "Ctrl-C: status $status, expected 58 (STATUS_CONTROL_C_EXIT)"
[[ $(cat progress.txt) == "$(settings 1 14 1 QZ 1 m m.sdf)${nl}total compounds = 47${nl}threshold = 1${nl}t"* ]] ||
  fail "Ctrl-C: progress lines: $(head -c 200 progress.txt)"
[[ $(tail -n 1 progress.txt; echo .) == "threshold = "*$'\n.' ]] || fail "Ctrl-C: progress ends in: $(tail -c 80 progress.txt)"
for _ in 1 2 3 4 5 6 7 8 9 10; do compgen -G '*.tmp*' > /dev/null || break; sleep 1; done
compgen -G '*.tmp*' > /dev/null && fail "Ctrl-C: temporaries left: $(echo *.tmp*)"
same m.out m.out.before
same m_frag.sdf m_frag.before
# A run that fails after its temporaries were made removes them on its way out.
check "missing input" 1 "$(settings 1 7 1 QZ 1 m none.sdf)${nl}can't open a file 'none.sdf': No such file or directory$nl." -ofile m none.sdf
compgen -G '*.tmp*' > /dev/null && fail "failed run: temporaries left: $(echo *.tmp*)"
same m.out m.out.before

echo "wine cases: $failures failed"
[ "$failures" = 0 ]
