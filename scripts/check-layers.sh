#!/usr/bin/env bash
# Checks that each folder of the program includes only itself and the folders
# below it:  platform <- catalogue <- core <- targets <- compile, ide <- app.
# Prints every include that breaks the rule and fails when there is one.
set -u
cd "$(dirname "$0")/.."
declare -A allowed=(
  [platform]="platform"
  [catalogue]="catalogue"
  [core]="core catalogue platform"
  [targets]="targets core catalogue platform"
  [compile]="compile targets core catalogue platform"
  [ide]="ide targets core catalogue platform"
  [app]="app compile ide targets core catalogue platform"
  [tools]="tools targets core catalogue platform"
)
bad=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "$file includes $target/: $folder/ may include only ${allowed[$folder]}"; bad=1 ;;
    esac
  done < <(grep -rnE '^#include "[a-z_]+/' "$folder" --include='*.h' --include='*.cpp' --include='*.rc')
done
exit $bad
