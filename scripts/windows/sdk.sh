# The Windows SDK: static libraries of everything Velmora links, cross-built
# from Debian's own source packages into $VELMORA_WINDOWS_SDK. Each package is
# one step with a stamp file, so a later run skips what is built and a failed
# step is retried alone. Sourced by scripts/windows.sh.

WINDOWS_HOST=x86_64-w64-mingw32
WINDOWS_SCRIPTS=$VELMORA_ROOT/scripts/windows
SDK_WORK=$VELMORA_WINDOWS_SDK/.work     # sources and build trees
SDK_STAMPS=$VELMORA_WINDOWS_SDK/.stamps
SDK_JOBS=${VELMORA_JOBS:-2}

# The packages in build order: each needs only those before it.
SDK_PACKAGES=(zlib libdeflate libpng1.6 libjpeg-turbo lcms2 tiff libxml2 imagemagick qt6-base)

# apt-get source with a source list and state of our own, made from the
# machine's deb822 sources, so the system's apt configuration stays as it is.
sdk_apt() {
    local dir=$SDK_WORK/apt
    if [ ! -f "$dir/sources.list" ]; then
        mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
        local file uris suites components signed
        for file in /etc/apt/sources.list.d/*.sources; do
            # One stanza per paragraph: URIs, Suites, Components, Signed-By.
            awk -v RS= '/Types:[^\n]*deb/ {
                    uris=""; suites=""; comps=""; signed="";
                    n = split($0, lines, "\n");
                    for (i = 1; i <= n; i++) {
                        if (lines[i] ~ /^URIs:/) { uris = lines[i]; sub(/^URIs:[ \t]*/, "", uris) }
                        if (lines[i] ~ /^Suites:/) { suites = lines[i]; sub(/^Suites:[ \t]*/, "", suites) }
                        if (lines[i] ~ /^Components:/) { comps = lines[i]; sub(/^Components:[ \t]*/, "", comps) }
                        if (lines[i] ~ /^Signed-By:/) { signed = lines[i]; sub(/^Signed-By:[ \t]*/, "", signed) }
                    }
                    opt = signed == "" ? "" : "[signed-by=" signed "] ";
                    nu = split(uris, u, " "); ns = split(suites, s, " ");
                    for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++)
                        print "deb-src " opt u[a] " " s[b] " " comps
                }' "$file"
        done >"$dir/sources.list.new"
        [ -s "$dir/sources.list.new" ] || { echo "No deb822 sources in /etc/apt/sources.list.d" >&2; return 1; }
        mv "$dir/sources.list.new" "$dir/sources.list"
    fi
    local tool=apt-get
    [ "$1" != showsrc ] || tool=apt-cache
    "$tool" -q -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=- \
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" \
        -o Debug::NoLocking=1 "$@"
}

# A binary package of each source package: where it is installed for the
# Linux build, the SDK takes the very same version of the source.
declare -A SDK_BINARY_OF=(
    [zlib]=zlib1g [libdeflate]=libdeflate0 [libpng1.6]=libpng16-16 [libjpeg-turbo]=libjpeg62-turbo
    [lcms2]=liblcms2-2 [tiff]=libtiff6 [libxml2]=libxml2 [imagemagick]=libmagickcore-6.q16-6
    [qt6-base]=qt6-base-dev-tools
)

# Unpacks Debian's source of a package (with Debian's patches applied) into
# $SDK_WORK/src/<package>-<version> and prints that folder.
sdk_source() {
    local package=$1 src=$SDK_WORK/src version
    mkdir -p "$src"
    if ! ls -d "$src/$package"-*/ >/dev/null 2>&1; then
        [ -n "$(ls -A "$SDK_WORK/apt/lists" 2>/dev/null | grep -v partial)" ] || sdk_apt update >&2
        # The installed version first; else (or when the mirror no longer has
        # its files) the newest version that downloads.
        local installed versions=() version
        installed=$(dpkg-query -W -f='${source:Version}' "${SDK_BINARY_OF[$package]}" 2>/dev/null || true)
        [ -z "$installed" ] || versions+=("$installed")
        mapfile -t -O ${#versions[@]} versions < <(sdk_apt showsrc "$package" 2>/dev/null |
            sed -n 's/^Version: //p' | sort -rV)
        for version in "${versions[@]}"; do
            (cd "$src" && sdk_apt source "$package=$version" >&2) && break
            rm -rf "${src:?}/$package"-*/
        done
        ls -d "$src/$package"-*/ >/dev/null 2>&1 || { echo "No source of $package" >&2; return 1; }
    fi
    sdk_patch "$package" "$(ls -d "$src/$package"-*/ | head -n1)" >&2
    ls -d "$src/$package"-*/ | head -n1 | sed 's:/$::'
}

# Our own patches, scripts/windows/patches/<package>/NN-name.patch, in order;
# each is applied once (one that reverses cleanly is in place already).
sdk_patch() {
    local package=$1 tree=$2 patch
    for patch in "$WINDOWS_SCRIPTS/patches/$package"/*.patch; do
        [ -e "$patch" ] || continue
        patch -d "$tree" -p1 -R --dry-run -s -f <"$patch" >/dev/null 2>&1 && continue
        echo "Patching $package: $(basename "$patch")"
        patch -d "$tree" -p1 -N <"$patch"
    done
}

# The environment of an autotools build for Windows against the SDK.
sdk_autotools_env() {
    export CC=$WINDOWS_HOST-gcc-posix CXX=$WINDOWS_HOST-g++-posix
    export AR=$WINDOWS_HOST-ar RANLIB=$WINDOWS_HOST-ranlib RC=$WINDOWS_HOST-windres WINDRES=$WINDOWS_HOST-windres
    export CPPFLAGS="-I$VELMORA_WINDOWS_SDK/include" LDFLAGS="-L$VELMORA_WINDOWS_SDK/lib"
    export CFLAGS="-O2" CXXFLAGS="-O2"
    export PKG_CONFIG_LIBDIR=$VELMORA_WINDOWS_SDK/lib/pkgconfig PKG_CONFIG_PATH=
}

sdk_configure_args=(--host="$WINDOWS_HOST" --enable-static --disable-shared)

# The SDK keeps its own copy of the toolchain file: its build trees name it,
# and they outlive the clone that started them.
SDK_TOOLCHAIN=$VELMORA_WINDOWS_SDK/toolchain.cmake

sdk_cmake() {
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$SDK_TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$VELMORA_WINDOWS_SDK" \
        -DCMAKE_PREFIX_PATH="$VELMORA_WINDOWS_SDK" "$@"
}

build_zlib() {
    local src; src=$(sdk_source zlib)
    # Debian's repacked source has no win32/ makefile; zlib's own configure
    # cross-builds the static library with the host prefix.
    (cd "$src" && CHOST=$WINDOWS_HOST CC=$WINDOWS_HOST-gcc-posix CFLAGS=-O2 \
        ./configure --static --prefix="$VELMORA_WINDOWS_SDK" &&
        make -j"$SDK_JOBS" libz.a && make install)
}

build_libdeflate() {
    local src; src=$(sdk_source libdeflate)
    # Its own Makefile builds the static library; for MinGW it would name it
    # .lib, so the name is given. The header, the library and a pkg-config
    # file like Debian's go into the SDK.
    (cd "$src" && make -j"$SDK_JOBS" CC=$WINDOWS_HOST-gcc-posix AR=$WINDOWS_HOST-ar CFLAGS=-O2 \
        STATIC_LIB_SUFFIX=.a STATIC_LIB=libdeflate.a libdeflate.a)
    mkdir -p "$VELMORA_WINDOWS_SDK/include" "$VELMORA_WINDOWS_SDK/lib/pkgconfig"
    install -m 644 "$src/libdeflate.h" "$VELMORA_WINDOWS_SDK/include/"
    install -m 644 "$src/libdeflate.a" "$VELMORA_WINDOWS_SDK/lib/"
    local version=${src##*/libdeflate-}
    cat >"$VELMORA_WINDOWS_SDK/lib/pkgconfig/libdeflate.pc" <<PC
prefix=$VELMORA_WINDOWS_SDK
includedir=\${prefix}/include
libdir=\${prefix}/lib

Name: libdeflate
Description: Fast implementation of DEFLATE, zlib, and gzip
Version: $version
Libs: -L\${libdir} -ldeflate
Cflags: -I\${includedir}
PC
}

build_libpng1.6() {
    local src; src=$(sdk_source libpng1.6)
    local build=$SDK_WORK/build/libpng1.6
    mkdir -p "$build"
    (cd "$build" && sdk_autotools_env &&
        { [ -f Makefile ] || "$src/configure" "${sdk_configure_args[@]}" --prefix="$VELMORA_WINDOWS_SDK"; } &&
        make -j"$SDK_JOBS" && make install)
}

build_libjpeg-turbo() {
    local src; src=$(sdk_source libjpeg-turbo)
    local build=$SDK_WORK/build/libjpeg-turbo
    # No SIMD, which would need nasm; its results are meant to be the same as
    # those of the C code.
    [ -f "$build/build.ninja" ] || sdk_cmake -S "$src" -B "$build" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_TURBOJPEG=ON -DWITH_SIMD=OFF -DCMAKE_INSTALL_LIBDIR="$VELMORA_WINDOWS_SDK/lib"
    cmake --build "$build" -j"$SDK_JOBS"
    cmake --install "$build"
}

build_lcms2() {
    local src; src=$(sdk_source lcms2)
    local build=$SDK_WORK/build/lcms2
    mkdir -p "$build"
    (cd "$build" && sdk_autotools_env &&
        { [ -f Makefile ] || "$src/configure" "${sdk_configure_args[@]}" --prefix="$VELMORA_WINDOWS_SDK" \
            --without-jpeg --without-tiff --without-zlib; } &&
        make -j"$SDK_JOBS" -C src && make -C src install && make -C include install &&
        make install-pkgconfigDATA)
}

build_tiff() {
    local src; src=$(sdk_source tiff)
    local build=$SDK_WORK/build/tiff
    # The codecs Velmora's TIFFs use (none, LZW, deflate, JPEG, PackBits) and
    # nothing that needs a library outside the SDK.
    [ -f "$build/build.ninja" ] || sdk_cmake -S "$src" -B "$build" -DBUILD_SHARED_LIBS=OFF \
        -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF \
        -Djbig=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dsphinx=OFF \
        -Dzlib=ON -Djpeg=ON -DCMAKE_INSTALL_LIBDIR="$VELMORA_WINDOWS_SDK/lib"
    cmake --build "$build" -j"$SDK_JOBS"
    cmake --install "$build"
}

build_libxml2() {
    local src; src=$(sdk_source libxml2)
    local build=$SDK_WORK/build/libxml2
    mkdir -p "$build"
    # Only for ImageMagick, which keeps a picture's XMP packet only once
    # libxml2 has parsed it: the parser, nothing that reaches a network or
    # another library. Its threads are winpthreads', like everything else's:
    # with Windows' own, each thread's state is freed by a helper thread that
    # a program's exit waits for in vain. Debian's patches leave Makefile.am
    # newer than its output; the shipped makefiles are used as they are.
    (cd "$build" && sdk_autotools_env &&
        { [ -f Makefile ] || "$src/configure" "${sdk_configure_args[@]}" --prefix="$VELMORA_WINDOWS_SDK" \
            --without-python --without-lzma --without-zlib --without-iconv --without-icu \
            --without-http --without-ftp --without-debug --without-docbook --without-catalog \
            --with-threads=pthread --disable-maintainer-mode; } &&
        make -j"$SDK_JOBS" libxml2.la && make install-libLTLIBRARIES install-data-am &&
        make -C include install)
}

build_imagemagick() {
    local src; src=$(sdk_source imagemagick)
    local build=$SDK_WORK/build/imagemagick
    mkdir -p "$build"
    # Q16 without HDRI like Debian's libmagick++-6.q16, so both builds write
    # the same pixels; every coder built into the library (no module folder to
    # install) and only the delegate libraries of the SDK. No OpenMP: Velmora
    # runs its own worker threads. Its static library calls Winsock
    # (nt-base), which configure does not name: it is added to the link after
    # configuring (named to configure, it would also turn on the POSIX socket
    # code, which does not compile here) and to MagickCore's pkg-config file.
    # libxml2 is the SDK's static library, which its headers must be told.
    (cd "$build" && sdk_autotools_env && export CPPFLAGS="$CPPFLAGS -DLIBXML_STATIC" &&
        { [ -f Makefile ] || "$src/configure" "${sdk_configure_args[@]}" --prefix="$VELMORA_WINDOWS_SDK" \
            --with-quantum-depth=16 --disable-hdri --without-modules --disable-openmp \
            --disable-opencl --disable-docs --disable-deprecated --with-magick-plus-plus \
            --without-perl --without-x --without-bzlib --without-djvu --without-dps \
            --without-fftw --without-flif --without-fontconfig --without-freetype \
            --without-fpx --without-gslib --without-gvc --without-heic --without-jbig \
            --without-jxl --without-lqr --without-lzma --without-openexr --without-openjp2 \
            --without-pango --without-raqm --without-raw --without-rsvg --without-webp \
            --without-wmf --with-xml --without-zstd --without-zip --without-autotrace \
            --without-utilities \
            --with-zlib --with-png --with-jpeg --with-tiff --with-lcms &&
            sed -i 's/^LIBS = .*/& -lws2_32/' Makefile; } &&
        make -j"$SDK_JOBS" && make install &&
        sed -i '/^Libs.private:/s/$/ -lws2_32/' "$VELMORA_WINDOWS_SDK"/lib/pkgconfig/MagickCore*.pc)
}

build_qt6-base() {
    local src; src=$(sdk_source qt6-base)
    local build=$SDK_WORK/build/qt6-base
    # A static Qt of Core, Gui, Widgets and Test with the Windows platform
    # plugin, using the host's Qt 6.4.2 tools (moc, rcc, uic). zlib, libpng
    # and libjpeg come from the SDK so the program links one copy of each.
    # Debian's repacked source has no wintab.h, which tablet events need; the
    # Windows platform plugin of 6.4.2 does not compile without OpenGL, so it
    # stays on; the Direct2D platform plugin is not needed. Without Direct2D
    # QtGui leaves out its DirectWrite font database, which the platform plugin
    # still names while DirectWrite 3 is on: off too, so the program links
    # (Qt draws text with GDI by default either way).
    [ -f "$build/build.ninja" ] || sdk_cmake -S "$src" -B "$build" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=OFF -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF \
        -DFEATURE_system_zlib=ON -DFEATURE_system_png=ON -DFEATURE_system_jpeg=ON \
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_doubleconversion=OFF
    cmake --build "$build" -j"$SDK_JOBS"
    cmake --install "$build"
}

# Builds the named packages (default: all) that have no stamp yet. A step cut
# short resumes in its build tree (configured once, then only what is missing
# is built); remove $SDK_WORK/build/<package> to configure it afresh. The build
# tree of a package is removed once it is installed; its source stays.
# What a package's step does, as a checksum of its build function and patches.
sdk_recipe() {
    { declare -f "build_$1"; cat "$WINDOWS_SCRIPTS/patches/$1/"*.patch 2>/dev/null; } |
        md5sum | cut -d' ' -f1
}

build_windows_sdk() {
    local packages=("$@") package start
    [ ${#packages[@]} -gt 0 ] || packages=("${SDK_PACKAGES[@]}")
    mkdir -p "$VELMORA_WINDOWS_SDK" "$SDK_STAMPS" "$SDK_WORK/logs"
    cmp -s "$WINDOWS_SCRIPTS/toolchain.cmake" "$SDK_TOOLCHAIN" ||
        cp "$WINDOWS_SCRIPTS/toolchain.cmake" "$SDK_TOOLCHAIN"
    for package in "${packages[@]}"; do
        # A stamp holds the recipe it was built by: a changed recipe builds again.
        [ "$(head -n 1 "$SDK_STAMPS/$package" 2>/dev/null)" = "$(sdk_recipe "$package")" ] && continue
        echo "SDK: building $package (log: $SDK_WORK/logs/$package.log)"
        start=$(date +%s)
        # A subshell of its own, so that any failing command ends the step.
        set +e
        (set -e; "build_$package") >"$SDK_WORK/logs/$package.log" 2>&1
        local status=$?
        set -e
        if [ $status -ne 0 ]; then
            echo "SDK: $package failed; the end of its log:" >&2
            tail -n 40 "$SDK_WORK/logs/$package.log" >&2
            return 1
        fi
        printf '%s\n%s s\n' "$(sdk_recipe "$package")" "$(($(date +%s) - start))" >"$SDK_STAMPS/$package"
        rm -rf "$SDK_WORK/build/$package"
        echo "SDK: $package built in $(tail -n 1 "$SDK_STAMPS/$package")"
    done
}
