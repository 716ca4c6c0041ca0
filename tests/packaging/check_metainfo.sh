#!/bin/sh
# The AppStream metadata passes appstreamcli's checks (offline), and its newest release is the
# version being built, so software centres never offer notes of an older one.
# Usage: check_metainfo.sh <metainfo.xml> <project version>
set -eu
metainfo=$1
version=$2
appstreamcli validate --no-net "$metainfo"
newest=$(sed -n 's/.*<release [^>]*version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
if [ "$newest" != "$version" ]; then
  echo "$metainfo: the newest release is '$newest', the project is $version: add a <release> for it" >&2
  exit 1
fi
