# shellcheck shell=bash
# Sourced by windows-deps.sh with its variables ($srcdir, $work, $prefix, $cc, $triple,
# $common_cflags, $jobs) and its log, die, stamp_ok and stamp_set: builds libsodium statically.
# shellcheck disable=SC2154,SC2164

# ---- libsodium: static, the signatures and digests of signed releases ---------------------
# Its locks are Win32 critical sections and its random bytes come from advapi32's
# RtlGenRandom, so no winpthreads. Code built against the archive defines SODIUM_STATIC (the
# headers' mark of static linking), and the archive needs advapi32: both go into the .pc
# file's Cflags and Libs, so that a plain pkg_check_modules compiles and links completely.
sodium_configure=(--host="$triple" --prefix="$prefix" --disable-shared --enable-static
                  --without-pthreads --disable-ssp)
sodium_recipe="$(cat "$srcdir/libsodium.version") $cc $common_cflags ${sodium_configure[*]}"
if ! stamp_ok libsodium "$sodium_recipe"; then
  log "building libsodium (static)"
  rm -rf "$work/libsodium" "$prefix/include/sodium" "$prefix/include/sodium.h" \
         "$prefix"/lib/libsodium.* "$prefix/lib/pkgconfig/libsodium.pc"
  mkdir -p "$work/libsodium"
  # Debian's tarball is the upstream repository's tree, without a generated configure.
  (cd "$sodium_src" && autoreconf -fi) >"$work/libsodium/autoreconf.log" 2>&1 \
    || { tail -40 "$work/libsodium/autoreconf.log"; die "libsodium: autoreconf failed"; }
  (
    cd "$work/libsodium"
    "$sodium_src/configure" -q "${sodium_configure[@]}" \
      CC="$cc" AR="$triple-ar" RANLIB="$triple-ranlib" STRIP="$triple-strip" \
      CFLAGS="$common_cflags" >configure.log 2>&1 \
      || { tail -40 configure.log; tail -40 config.log; exit 1; }
    make -s -j"$jobs" -C src >make.log 2>&1 || { tail -40 make.log; exit 1; }
    make -s -C src install >/dev/null
    make -s install-pkgconfigDATA >/dev/null
  )
  pc="$prefix/lib/pkgconfig/libsodium.pc"
  if ! grep -qxF "Libs: -L\${libdir} -lsodium" "$pc" ||
     ! grep -qxF "Cflags: -I\${includedir}" "$pc"; then
    die "libsodium: $pc is not laid out as expected"
  fi
  sed -i -e 's/^Libs: .*/& -ladvapi32/' -e 's/^Cflags: .*/& -DSODIUM_STATIC/' "$pc"
  # Fortified string functions and stack protection would need libssp, which no player has.
  ssp_calls="$("$triple-nm" -u "$prefix/lib/libsodium.a" |
               grep -E '__(.*_chk|stack_chk_fail)$' | sort -u || true)"
  [ -z "$ssp_calls" ] || die "libsodium: the archive calls libssp: $(tr '\n' ' ' <<<"$ssp_calls")"
  stamp_set libsodium "$sodium_recipe"
fi
