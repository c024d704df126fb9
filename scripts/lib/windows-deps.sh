# shellcheck shell=bash
# Sourced by scripts/build-windows once its packages are installed: builds the static Windows
# libraries the project links against from Debian's sources into $prefix: libcurl (Schannel,
# HTTP/2 through nghttp2) and the curl tool built with it (bin/curl.exe, the benchmarks' peer
# under Wine), libsodium, zstd, Dear ImGui (Win32 and Direct3D 11 backends), stb_image and
# GoogleTest.
#
# Uses the caller's $root, $deps, $prefix, $srcdir, $work, $toolchain, $wineprefix, $triple,
# $cc, $cxx, $jobs and its log, die, stamp_ok and stamp_set. Every step leaves a stamp holding
# the recipe it ran with and is skipped while the stamp matches.
# The caller sets those variables and runs under set -e:
# shellcheck disable=SC2154,SC2164

imgui_version=1.86
sodium_version=1.0.18
zstd_version=1.5.4
nghttp2_version=1.52.0
# Debian 13's curl: 8.13 taught Schannel ALPN in mingw builds, and without ALPN there is no
# HTTP/2 over TLS.
curl_version=8.14.1
curl_suite=trixie

mkdir -p "$srcdir" "$work" "$prefix/include" "$prefix/lib/pkgconfig" "$stamps"

# ---- Debian source packages --------------------------------------------------------------
# shellcheck source-path=SCRIPTDIR source=debian-sources.sh
source "$root/scripts/lib/debian-sources.sh"

sources_recipe="bookworm main: imgui $imgui_version, libsodium $sodium_version,"
sources_recipe+=" libzstd $zstd_version, nghttp2 $nghttp2_version;"
sources_recipe+=" $curl_suite main: curl $curl_version"
if ! stamp_ok sources "$sources_recipe"; then
  apt_dir="$deps/apt"
  rm -rf "$apt_dir" "$srcdir"
  mkdir -p "$srcdir/download"
  private_apt_sources "$apt_dir" bookworm "$curl_suite"
  log "downloading the source packages of imgui, libsodium, libzstd, nghttp2 and curl from $mirror"

  for package in "imgui bookworm $imgui_version" "libsodium bookworm $sodium_version" \
                 "libzstd bookworm $zstd_version" "nghttp2 bookworm $nghttp2_version" \
                 "curl $curl_suite $curl_version"; do
    read -r name suite upstream <<<"$package"
    version="$(cd "$srcdir/download" && fetch_source "$name" "$suite" "$upstream")"
    dsc="$srcdir/download/${name}_${version#*:}.dsc"
    [ -f "$dsc" ] || die "$name: apt left no $dsc"
    # apt has already checked the files against the signed archive index; dpkg-source's own
    # check of the uploader's signature has no keyring here and only warns.
    dpkg-source -x "$dsc" "$srcdir/$name" >"$srcdir/$name.unpack.log" 2>&1 \
      || { cat "$srcdir/$name.unpack.log"; die "unpacking $dsc failed"; }
    basename "$dsc" .dsc >"$srcdir/$name.version"
  done
  # Some of Debian's curl patches turn the tree into its GnuTLS (and, before curl 8.3, NSS)
  # flavours: 7.88 ended its series with 90_gnutls and 99_nss, trixie starts with
  # ZZZgnutls-build. This build is neither, and takes off whichever of them the series has.
  flavours=0
  for patch in 99_nss.patch 90_gnutls.patch ZZZgnutls-build.patch; do
    grep -qx "$patch" "$srcdir/curl/debian/patches/series" || continue
    patch -s -R -p1 -d "$srcdir/curl" <"$srcdir/curl/debian/patches/$patch" \
      || die "curl: $patch does not come off the patched tree"
    flavours=$((flavours + 1))
  done
  [ "$flavours" -gt 0 ] || log "curl: no GnuTLS or NSS patch in Debian's series to take off"
  stamp_set sources "$sources_recipe"
fi
imgui_src="$srcdir/imgui"
curl_src="$srcdir/curl"
nghttp2_src="$srcdir/nghttp2"
sodium_src="$srcdir/libsodium"
zstd_src="$srcdir/libzstd"

common_cflags="-O2"

# ---- nghttp2: static, the library alone, for libcurl's HTTP/2 ------------------------------
# Its header marks every function dllimport unless NGHTTP2_STATICLIB is defined, so the archive
# is built with it and its .pc file hands it on to whatever compiles against it (libcurl).
# nghttp2 1.52 calls a fallback it leaves undefined when it finds both clock_gettime
# (winpthreads') and GetTickCount64; without clock_gettime it takes Windows' own monotonic
# clock and needs no winpthreads.
nghttp2_configure=(--host="$triple" --prefix="$prefix" --disable-shared --enable-static
                   --enable-lib-only --disable-threads ac_cv_func_clock_gettime=no)
nghttp2_cppflags="-DNGHTTP2_STATICLIB"
nghttp2_recipe="$(cat "$srcdir/nghttp2.version") $cc $common_cflags $nghttp2_cppflags"
nghttp2_recipe+=" ${nghttp2_configure[*]}"
if ! stamp_ok nghttp2 "$nghttp2_recipe"; then
  log "building nghttp2 (static)"
  rm -rf "$work/nghttp2" "$prefix/include/nghttp2" "$prefix"/lib/libnghttp2.* \
         "$prefix/lib/pkgconfig/libnghttp2.pc"
  mkdir -p "$work/nghttp2"
  # Debian's tarball is the upstream repository's tree, without a generated configure.
  (cd "$nghttp2_src" && autoreconf -fi) >"$work/nghttp2/autoreconf.log" 2>&1 \
    || { tail -40 "$work/nghttp2/autoreconf.log"; die "nghttp2: autoreconf failed"; }
  (
    cd "$work/nghttp2"
    "$nghttp2_src/configure" -q "${nghttp2_configure[@]}" \
      CC="$cc" CXX="$cxx" AR="$triple-ar" RANLIB="$triple-ranlib" STRIP="$triple-strip" \
      CFLAGS="$common_cflags" CPPFLAGS="$nghttp2_cppflags" >configure.log 2>&1 \
      || { tail -40 configure.log; tail -40 config.log; exit 1; }
    make -s -j"$jobs" -C lib >make.log 2>&1 || { tail -40 make.log; exit 1; }
    make -s -C lib install >/dev/null
  )
  # (nm's whole output first: under pipefail, grep -q ending a pipe early fails it.)
  undefined="$("$triple-nm" -u "$prefix/lib/libnghttp2.a")"
  ! grep -qw time_now_sec <<<"$undefined" \
    || die "nghttp2: the archive calls time_now_sec, which it does not define"
  pc="$prefix/lib/pkgconfig/libnghttp2.pc"
  grep -qxF "Cflags: -I\${includedir}" "$pc" || die "nghttp2: $pc is not laid out as expected"
  sed -i 's/^Cflags: .*/& -DNGHTTP2_STATICLIB/' "$pc"
  stamp_set nghttp2 "$nghttp2_recipe"
fi

# ---- libcurl: static, Schannel, HTTP/1.1 and HTTP/2, HTTP and HTTPS only ------------------
# The curl tool comes from the same configured tree: the benchmarks set it beside the Windows
# program under Wine, so it has to fetch with exactly the program's TLS and HTTP/2 code.
curl_configure=(
  --host="$triple" --prefix="$prefix"
  --disable-shared --enable-static --enable-windows-unicode
  --with-schannel --without-ca-bundle --without-ca-path
  # Name lookups on their own Win32 thread (no winpthreads: curl 8 takes Win32 threads on
  # Windows by itself, checked below), so a transfer's timeout also bounds a hanging DNS lookup.
  --enable-threaded-resolver
  --enable-http --disable-ftp --disable-file --disable-ldap --disable-ldaps --disable-rtsp
  --disable-dict --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smb
  --disable-smtp --disable-gopher --disable-mqtt --disable-websockets --disable-ipfs
  --without-zlib --without-brotli --without-zstd --without-libpsl --without-libgsasl
  --without-libssh2 --without-libssh --without-wolfssh --without-librtmp --without-winidn
  --without-libidn2 --with-nghttp2="$prefix" --without-ngtcp2 --without-nghttp3
  --without-quiche --without-msh3 --disable-unix-sockets
  --disable-manual --disable-docs --without-zsh-functions-dir --without-fish-functions-dir
)
# Windows Unicode (UNICODE and _UNICODE, and the tool's wide main) makes libcurl take file
# names (such as CURLOPT_CAINFO) as UTF-8 and open them with the wide-character API. Curl's
# configure takes only nghttp2's include path from its .pc file, not its define.
curl_cppflags="$nghttp2_cppflags"
curl_recipe="$(cat "$srcdir/curl.version") $(cat "$srcdir/nghttp2.version") $cc $common_cflags"
curl_recipe+=" $curl_cppflags ${curl_configure[*]} with bin/curl.exe"
if ! stamp_ok curl "$curl_recipe" || [ ! -f "$prefix/bin/curl.exe" ]; then
  log "building libcurl (static, Schannel, HTTP/2) and the curl tool"
  # Taking Debian's flavour patches off touches configure.ac and Makefile.am, so regenerate as
  # Debian does.
  rm -rf "$work/curl" "$prefix/include/curl" "$prefix"/lib/libcurl.* \
         "$prefix/lib/pkgconfig/libcurl.pc" "$prefix/bin/curl.exe"
  mkdir -p "$work/curl"
  (cd "$curl_src" && autoreconf -fi) >"$work/curl/autoreconf.log" 2>&1 \
    || { tail -40 "$work/curl/autoreconf.log"; die "curl: autoreconf failed"; }
  (
    cd "$work/curl"
    "$curl_src/configure" -q "${curl_configure[@]}" \
      CC="$cc" AR="$triple-ar" RANLIB="$triple-ranlib" STRIP="$triple-strip" \
      CFLAGS="$common_cflags" CPPFLAGS="$curl_cppflags" >configure.log 2>&1 \
      || { tail -40 configure.log; tail -40 config.log; exit 1; }
    # configure only warns about options it does not know, and each one is a restriction
    # this build would silently lose.
    ! grep -i 'unrecognized option' configure.log || die "curl: configure ignored options"
    grep -q '^#define USE_SCHANNEL 1' lib/curl_config.h || die "curl: Schannel not enabled"
    grep -q '^#define USE_NGHTTP2 1' lib/curl_config.h || die "curl: nghttp2 not enabled"
    grep -q '^#define USE_THREADS_WIN32 1' lib/curl_config.h || die "curl: not using Win32 threads"
    grep -q '^CPPFLAGS = .*-DUNICODE -D_UNICODE' lib/Makefile || die "curl: Unicode not enabled"
    make -s -j"$jobs" -C lib >make.log 2>&1 || { tail -40 make.log; exit 1; }
    make -s -C lib install >/dev/null
    make -s -C include install >/dev/null
    make -s install-pkgconfigDATA >/dev/null
    make -s -j"$jobs" -C src >>make.log 2>&1 || { tail -40 make.log; exit 1; }
    make -s -C src install >/dev/null
  )
  # Started on its own under Wine, the tool may need no DLL but the system's.
  imports="$("$triple-objdump" -p "$prefix/bin/curl.exe" | sed -n 's/^\tDLL Name: //p')"
  ! grep -i '^lib' <<<"$imports" || die "curl: bin/curl.exe needs the DLLs above"
  # HTTP/2 over TLS needs ALPN. schannel.c compiles it in only for mingw-w64 9 or newer (its
  # headers' ALPN declarations) and marks that with this flag, which init sets from the
  # Windows (or Wine) version at run time.
  symbols="$("$triple-nm" "$prefix/lib/libcurl.a")"
  grep -q ' s_win_has_alpn$' <<<"$symbols" \
    || die "curl: Schannel was built without ALPN (mingw-w64 headers older than 9?)"
  grep -q '^Requires: .*libnghttp2' "$prefix/lib/pkgconfig/libcurl.pc" \
    || die "curl: libcurl.pc does not require libnghttp2"
  stamp_set curl "$curl_recipe"
fi

# shellcheck source-path=SCRIPTDIR source=windows-sodium.sh
source "$root/scripts/lib/windows-sodium.sh"
# shellcheck source-path=SCRIPTDIR source=windows-zstd.sh
source "$root/scripts/lib/windows-zstd.sh"

# ---- Dear ImGui: core, std::string helpers, Win32 and Direct3D 11 backends ----------------
# Laid out like Debian's libimgui-dev: include/imgui/imgui.h, include/imgui/backends/*.h.
# Everything in the prefix is static, so each .pc file names the system libraries under Libs
# (as libcurl's does): a plain pkg_check_modules then links completely.
imgui_sources=(imgui.cpp imgui_draw.cpp imgui_tables.cpp imgui_widgets.cpp misc/cpp/imgui_stdlib.cpp
               backends/imgui_impl_win32.cpp backends/imgui_impl_dx11.cpp)
# C++17 as Debian builds it; C++20 only adds deprecation warnings for its enum arithmetic.
imgui_cxxflags="-std=c++17 $common_cflags"
imgui_recipe="$(cat "$srcdir/imgui.version") $cxx $imgui_cxxflags ${imgui_sources[*]}"
if ! stamp_ok imgui "$imgui_recipe"; then
  log "building Dear ImGui with the Win32 and Direct3D 11 backends"
  rm -rf "$work/imgui" "$prefix/include/imgui" "$prefix/lib/libimgui.a"
  mkdir -p "$work/imgui" "$prefix/include/imgui/backends"
  objects=()
  for source in "${imgui_sources[@]}"; do
    object="$work/imgui/$(basename "$source" .cpp).o"
    # shellcheck disable=SC2086
    "$cxx" $imgui_cxxflags -I"$imgui_src" -c "$imgui_src/$source" -o "$object" \
      >"$object.log" 2>&1 || { cat "$object.log"; exit 1; } &
    objects+=("$object")
    # Two compilers at a time.
    if [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; then wait -n; fi
  done
  while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n; done
  for object in "${objects[@]}"; do [ -f "$object" ] || die "imgui: $object was not built"; done
  "$triple-ar" rcs "$prefix/lib/libimgui.a" "${objects[@]}"
  cp "$imgui_src"/{imgui.h,imconfig.h,imgui_internal.h,imstb_rectpack.h,imstb_textedit.h} \
     "$imgui_src"/imstb_truetype.h "$imgui_src"/misc/cpp/imgui_stdlib.h "$prefix/include/imgui/"
  cp "$imgui_src"/backends/imgui_impl_{win32,dx11}.h "$prefix/include/imgui/backends/"
  cat >"$prefix/lib/pkgconfig/imgui.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include/imgui

Name: imgui
Description: Dear ImGui with the Win32 and Direct3D 11 backends
Version: $imgui_version
Requires: stb
Libs: -L\${libdir} -limgui -ld3d11 -ld3dcompiler_47 -ldwmapi -lgdi32 -limm32
Cflags: -I\${includedir}
EOF
  stamp_set imgui "$imgui_recipe"
fi

# ---- stb_image: Debian's header, compiled once for Windows -------------------------------
stb_version="$(dpkg-query -W -f='${Version}' libstb-dev)"
stb_recipe="libstb-dev $stb_version $cc $common_cflags"
if ! stamp_ok stb "$stb_recipe"; then
  log "building stb_image"
  rm -rf "$work/stb" "$prefix/include/stb" "$prefix/lib/libstb_image.a"
  mkdir -p "$work/stb" "$prefix/include/stb"
  cp /usr/include/stb/*.h "$prefix/include/stb/"
  printf '#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n' >"$work/stb/stb_image.c"
  # shellcheck disable=SC2086
  "$cc" $common_cflags -I"$prefix/include/stb" -c "$work/stb/stb_image.c" -o "$work/stb/stb_image.o"
  "$triple-ar" rcs "$prefix/lib/libstb_image.a" "$work/stb/stb_image.o"
  cat >"$prefix/lib/pkgconfig/stb.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include/stb

Name: stb
Description: stb_image from Debian's libstb-dev, built for Windows
Version: 0.0
Libs: -L\${libdir} -lstb_image
Cflags: -I\${includedir}
EOF
  stamp_set stb "$stb_recipe"
fi

# ---- GoogleTest --------------------------------------------------------------------------
gtest_version="$(dpkg-query -W -f='${Version}' googletest)"
gtest_recipe="googletest $gtest_version $(sha256sum "$toolchain" | cut -c1-16) gtest only"
if ! stamp_ok googletest "$gtest_recipe"; then
  log "building GoogleTest"
  rm -rf "$work/googletest" "$prefix"/lib/libgtest* "$prefix/include/gtest" "$prefix/lib/cmake/GTest"
  cmake -S /usr/src/googletest -B "$work/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVESTREL_WINDOWS_DEPS="$prefix" -DVESTREL_WINEPREFIX="$wineprefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF \
    >"$work/googletest.log" 2>&1 || { tail -40 "$work/googletest.log"; exit 1; }
  cmake --build "$work/googletest" -j"$jobs" >>"$work/googletest.log" 2>&1 \
    || { tail -40 "$work/googletest.log"; exit 1; }
  cmake --install "$work/googletest" >>"$work/googletest.log" 2>&1
  stamp_set googletest "$gtest_recipe"
fi
