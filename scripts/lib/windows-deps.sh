# shellcheck shell=bash
# Sourced by scripts/build-windows once its packages are installed: builds the static Windows
# libraries the project links against from Debian's sources into $prefix: libcurl (Schannel),
# libsodium, Dear ImGui (Win32 and Direct3D 11 backends), stb_image and GoogleTest.
#
# Uses the caller's $root, $deps, $prefix, $srcdir, $work, $toolchain, $wineprefix, $triple,
# $cc, $cxx, $jobs and its log, die, stamp_ok and stamp_set. Every step leaves a stamp holding
# the recipe it ran with and is skipped while the stamp matches.
# The caller sets those variables and runs under set -e:
# shellcheck disable=SC2154,SC2164

imgui_version=1.86
curl_version=7.88.1
sodium_version=1.0.18

mkdir -p "$srcdir" "$work" "$prefix/include" "$prefix/lib/pkgconfig" "$stamps"

# ---- Debian source packages --------------------------------------------------------------
# A private sources list and lists directory: the system's apt configuration stays untouched.
sources_recipe="bookworm main: imgui $imgui_version, curl $curl_version, libsodium $sodium_version"
if ! stamp_ok sources "$sources_recipe"; then
  log "downloading the source packages of imgui, curl and libsodium"
  apt_dir="$deps/apt"
  rm -rf "$apt_dir" "$srcdir"
  mkdir -p "$apt_dir/lists/partial" "$srcdir/download"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
       "http://deb.debian.org/debian bookworm main" >"$apt_dir/src.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/src.list" -o "Dir::Etc::SourceParts=/dev/null"
            -o "Dir::State::Lists=$apt_dir/lists" -o "APT::Sandbox::User=root")
  apt-get -qq "${apt_opts[@]}" update
  (cd "$srcdir/download" &&
     apt-get -qq "${apt_opts[@]}" source --download-only imgui curl libsodium)

  imgui_dsc="$(ls "$srcdir"/download/imgui_"$imgui_version"[+-]*.dsc 2>/dev/null)" \
    || die "bookworm no longer has imgui $imgui_version: $(ls "$srcdir/download")"
  curl_dsc="$(ls "$srcdir"/download/curl_"$curl_version"-*.dsc 2>/dev/null)" \
    || die "bookworm no longer has curl $curl_version: $(ls "$srcdir/download")"
  sodium_dsc="$(ls "$srcdir"/download/libsodium_"$sodium_version"-*.dsc 2>/dev/null)" \
    || die "bookworm no longer has libsodium $sodium_version: $(ls "$srcdir/download")"
  # apt has already checked the files against the signed archive index; dpkg-source's own
  # check of the uploader's signature has no keyring here and only warns.
  for dsc in "$imgui_dsc" "$curl_dsc" "$sodium_dsc"; do
    name="$(basename "$dsc" | cut -d_ -f1)"
    dpkg-source -x "$dsc" "$srcdir/$name" >"$srcdir/$name.unpack.log" 2>&1 \
      || { cat "$srcdir/$name.unpack.log"; die "unpacking $dsc failed"; }
  done
  # Debian's last two curl patches turn the tree into its GnuTLS and NSS flavours; its own
  # OpenSSL build takes them off again, and so does this one.
  for patch in 99_nss.patch 90_gnutls.patch; do
    grep -qx "$patch" "$srcdir/curl/debian/patches/series" || die "curl: $patch not in series"
    patch -s -R -p1 -d "$srcdir/curl" <"$srcdir/curl/debian/patches/$patch"
  done
  basename "$imgui_dsc" .dsc >"$srcdir/imgui.version"
  basename "$curl_dsc" .dsc >"$srcdir/curl.version"
  basename "$sodium_dsc" .dsc >"$srcdir/libsodium.version"
  stamp_set sources "$sources_recipe"
fi
imgui_src="$srcdir/imgui"
curl_src="$srcdir/curl"
sodium_src="$srcdir/libsodium"

common_cflags="-O2"

# ---- libcurl: static, Schannel, HTTP and HTTPS only -------------------------------------
curl_configure=(
  --host="$triple" --prefix="$prefix"
  --disable-shared --enable-static
  --with-schannel --without-ca-bundle --without-ca-path
  # Name lookups on their own Win32 thread (no winpthreads), so a transfer's timeout also
  # bounds a hanging DNS lookup.
  --disable-pthreads --enable-threaded-resolver
  --enable-http --disable-ftp --disable-file --disable-ldap --disable-ldaps --disable-rtsp
  --disable-dict --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smb
  --disable-smtp --disable-gopher --disable-mqtt --disable-websockets
  --without-zlib --without-brotli --without-zstd --without-libpsl --without-libgsasl
  --without-libssh2 --without-libssh --without-wolfssh --without-librtmp --without-winidn
  --without-libidn2 --without-nghttp2 --without-ngtcp2 --without-nghttp3 --without-quiche
  --without-msh3 --without-hyper --disable-ntlm-wb --disable-unix-sockets
  --disable-manual --without-zsh-functions-dir --without-fish-functions-dir
)
# UNICODE makes libcurl take file names (such as CURLOPT_CAINFO) as UTF-8 and open them with
# the wide-character API.
curl_cppflags="-DUNICODE -D_UNICODE"
curl_recipe="$(cat "$srcdir/curl.version") $cc $common_cflags $curl_cppflags ${curl_configure[*]}"
if ! stamp_ok curl "$curl_recipe"; then
  log "building libcurl (static, Schannel)"
  # Debian's patches touch configure.ac and Makefile.am, so regenerate as Debian does.
  rm -rf "$work/curl" "$prefix/include/curl" "$prefix"/lib/libcurl.* "$prefix/lib/pkgconfig/libcurl.pc"
  mkdir -p "$work/curl"
  (cd "$curl_src" && autoreconf -fi) >"$work/curl/autoreconf.log" 2>&1 \
    || { tail -40 "$work/curl/autoreconf.log"; die "curl: autoreconf failed"; }
  (
    cd "$work/curl"
    "$curl_src/configure" -q "${curl_configure[@]}" \
      CC="$cc" AR="$triple-ar" RANLIB="$triple-ranlib" STRIP="$triple-strip" \
      CFLAGS="$common_cflags" CPPFLAGS="$curl_cppflags" >configure.log 2>&1 \
      || { tail -40 configure.log; tail -40 config.log; exit 1; }
    grep -q '^#define USE_SCHANNEL 1' lib/curl_config.h || die "curl: Schannel not enabled"
    grep -q '^#define USE_THREADS_WIN32 1' lib/curl_config.h || die "curl: not using Win32 threads"
    make -s -j"$jobs" -C lib >make.log 2>&1 || { tail -40 make.log; exit 1; }
    make -s -C lib install >/dev/null
    make -s -C include install >/dev/null
    make -s install-pkgconfigDATA >/dev/null
  )
  stamp_set curl "$curl_recipe"
fi

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
