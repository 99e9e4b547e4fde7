#!/usr/bin/env bash
# Everything side by side in one run: start-up against a minimal Qt program,
# then the picture benchmark against cjpeg, ImageMagick, Qt's writer and
# reader, and djpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "## Start-up"
bench/run.sh "${1:-30}" | tail -n 5
echo
echo "## Pictures"
bench/picture_bench.sh
