#!/usr/bin/env bash
# Builds the web page into build-web/site/: the engine's shared files and the web's own system
# files compiled to WebAssembly with Emscripten (Asyncify lets the engine's synchronous rules
# await the browser's promises), beside the page's HTML, CSS and JavaScript.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${ORVANE_WEB_BUILD_DIR:-$root/build-web}
site=$out/site

"$root/scripts/setup.sh" web-build
# Debian's emcc runs its JavaScript tools under node, which does not look in Debian's module
# folder by itself; its prebuilt cache is frozen, so EM_CACHE stays unset.
export NODE_PATH=/usr/share/nodejs
unset EM_CACHE

src=$root/src
engine=(common/SystemError.cpp common/SystemErrorPosix.cpp common/ClockWeb.cpp
        common/Sha256Digest.cpp device/SerialLine.cpp device/SerialLineWeb.cpp
        device/UnitCommands.cpp firmware/HeaderField.cpp firmware/FirmwareFile.cpp
        firmware/FirmwareFileWeb.cpp firmware/Compatibility.cpp firmware/NewestFile.cpp update/FirmwareTransfer.cpp
        update/UpdateSession.cpp update/UnitConfirmation.cpp text/Messages.cpp web/Engine.cpp)
mkdir -p "$out/obj" "$site"
objects=()
for file in "${engine[@]}"; do
    object=$out/obj/${file//\//_}.o
    if [ ! -e "$object" ] || [ "$src/$file" -nt "$object" ] ||
        [ -n "$(find "$src" -name '*.h' -newer "$object" -print -quit)" ]; then
        emcc -std=c++20 -O2 -Wall -Wextra -Werror -I"$src" -c "$src/$file" -o "$object"
    fi
    objects+=("$object")
done
emcc -O2 "${objects[@]}" -o "$site/orvane-engine.js" \
    -sASYNCIFY -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=OrvaneEngine \
    -sENVIRONMENT=web,node -sALLOW_MEMORY_GROWTH=1 \
    -sEXPORTED_FUNCTIONS=_orvane_texts,_orvane_check,_orvane_ask,_orvane_update,_free,_orvane_catalog_clear,_orvane_catalog_add,_orvane_catalog_newest,_orvane_check_listed,_orvane_confirm \
    -sEXPORTED_RUNTIME_METHODS=ccall,UTF8ToString
cp "$src"/web/site/* "$site/"
# The service worker's cache is named after the site's files, so a new site replaces the old.
version=$(cd "$site" && cat index.html style.css app.js orvane-engine.js orvane-engine.wasm \
    manifest.webmanifest | sha256sum | cut -c1-16)
sed -i "s/@VERSION@/orvane-$version/" "$site/sw.js"
echo "Web page in $site"
