#!/usr/bin/env bash
# PCM check: decodes every stream of the check with two builds of sonivert-decode and compares
# their exit codes and the SHA-256 of their outputs. A change that is meant to leave the decoder's
# output alone (a faster stage, a new table layout) must pass it with no difference at all.
#
# The streams: the ISO conformance streams, the regression streams, the fuzz seeds and the
# decoder fuzz corpus, every MP3 file of the benchmark corpus, any files named after --also, and
# --damaged N copies of the seeds and corpus files with bytes overwritten at random places (fixed
# seed, so the same copies every time): damaged Huffman data, which no encoder writes.
#
# usage: bench/pcm_check.sh OLD_DECODER NEW_DECODER [--damaged N] [--also FILE...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: $0 OLD_DECODER NEW_DECODER [--damaged N] [--also FILE...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
old=$1 new=$2
shift 2
damaged=0
also=()
while [ $# -gt 0 ]; do
  case $1 in
    --damaged) damaged=$2; shift 2 ;;
    --also) shift; also+=("$@"); break ;;
    *) usage ;;
  esac
done
for d in "$old" "$new"; do [ -x "$d" ] || { echo "no decoder $d" >&2; exit 2; }; done

work=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/pcmcheck.XXXXXX")
trap 'rm -rf "$work"' EXIT

shopt -s nullglob
streams=("$root"/tests/decoder/vectors/*.bit "$root"/tests/decoder/regressions/*.mp3
         "$root"/fuzz/seeds/* "$root"/fuzz/corpus/decoder_fuzz/* "$root"/bench/corpus/*/*.mp3 "${also[@]}")
if [ "$damaged" -gt 0 ]; then
  mkdir -p "$work/damaged"
  python3 - "$work/damaged" "$damaged" "$root"/fuzz/seeds/* "$root"/bench/corpus/*/*.mp3 <<'EOF'
import os, random, sys
out, count, sources = sys.argv[1], int(sys.argv[2]), sorted(sys.argv[3:])
rng = random.Random(24)
for n in range(count):
    src = sources[n % len(sources)]
    data = bytearray(open(src, 'rb').read()[:200000])
    # Past the first frame, so that most copies still start with a header and reach the stages.
    for _ in range(rng.randint(1, 40)):
        if len(data) > 600:
            data[rng.randrange(500, len(data))] = rng.randrange(256)
    open(os.path.join(out, '%04d-%s' % (n, os.path.basename(src))), 'wb').write(data)
EOF
  streams+=("$work"/damaged/*)
fi

# exit code and SHA-256 of the output (- when the decoder left none) of one decode.
decode() {
  local decoder=$1 stream=$2 out=$work/out.wav rc=0
  rm -f "$out"
  "$decoder" "$stream" "$out" 2>/dev/null || rc=$?
  if [ -f "$out" ]; then echo "$rc $(sha256sum <"$out" | cut -c1-64)"; else echo "$rc -"; fi
}

same=0 differ=0
for s in "${streams[@]}"; do
  [ -f "$s" ] || continue
  a=$(decode "$old" "$s")
  b=$(decode "$new" "$s")
  if [ "$a" = "$b" ]; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "DIFFERS: ${s#"$root"/} (exit, sha256: old $a, new $b)"
  fi
done
echo "pcm check: $((same + differ)) streams, $same identical, $differ different"
[ "$differ" -eq 0 ]
