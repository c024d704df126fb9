# shellcheck shell=bash
# Sourced by windows-deps.sh with its variables ($srcdir, $work, $prefix, $cc, $triple,
# $common_cflags, $jobs) and its log, die, stamp_ok and stamp_set: builds zstd statically.
# shellcheck disable=SC2154

# ---- zstd: static, the chunks of chunked releases ------------------------------------------
# The library alone and single-threaded (the installer only decompresses, a chunk at a time),
# so no winpthreads. Its Makefile builds in the source tree: it works on a copy.
zstd_recipe="$(cat "$srcdir/libzstd.version") $cc $common_cflags libzstd.a single-threaded"
if ! stamp_ok libzstd "$zstd_recipe"; then
  log "building zstd (static)"
  rm -rf "$work/libzstd" "$prefix"/include/zstd.h "$prefix"/include/zstd_errors.h \
         "$prefix"/include/zdict.h "$prefix"/lib/libzstd.* "$prefix/lib/pkgconfig/libzstd.pc"
  cp -r "$zstd_src" "$work/libzstd"
  zstd_make=(-C "$work/libzstd/lib" CC="$cc" AR="$triple-ar" CFLAGS="$common_cflags"
             PREFIX="$prefix" ZSTD_LEGACY_SUPPORT=0)
  make -s -j"$jobs" "${zstd_make[@]}" libzstd.a >"$work/libzstd/make.log" 2>&1 \
    || { tail -40 "$work/libzstd/make.log"; die "zstd: the build failed"; }
  make -s "${zstd_make[@]}" install-static install-includes install-pc \
    >>"$work/libzstd/make.log" 2>&1 \
    || { tail -40 "$work/libzstd/make.log"; die "zstd: the install failed"; }
  [ -f "$prefix/lib/pkgconfig/libzstd.pc" ] || die "zstd: no libzstd.pc"
  stamp_set libzstd "$zstd_recipe"
fi
