#!/usr/bin/env bash
# Creates the project's Wine prefix once: no Mono or Gecko prompts, and Chinese dialog fonts
# mapped to an installed CJK font so that "宋体" and SimSun render Chinese.
# With WENDLE_WINE_UNMANAGED=1 (tests on a bare Xvfb) windows are not handed to a window
# manager: without one, Wine waits two seconds each time a top-level window is hidden.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
wendle_wine_env
export WINEDEBUG=-all
[[ -f $WINEPREFIX/system.reg ]] && exit 0
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
font="WenQuanYi Micro Hei"
reg=$(mktemp --suffix=.reg)
# A .reg file in UTF-16 keeps the Chinese value names intact whatever the Unix locale is.
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for name in 宋体 新宋体 SimSun NSimSun 微软雅黑 "Microsoft YaHei" 黑体 SimHei; do
        printf '"%s"="%s"\r\n' "$name" "$font"
    done
    if [ "${WENDLE_WINE_UNMANAGED:-}" = 1 ]; then
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n'
    fi
} | iconv -f UTF-8 -t UTF-16 > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
