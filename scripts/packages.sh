# SPDX-License-Identifier: MIT
# Debian 12 packages the station needs to build, test and run; sourced by scripts/test, scripts/demo and
# scripts/package. The last two lines: man pages, icons, the Debian package and its checks; the screenshot.
QORSMAIL_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libcurl4-openssl-dev libsodium-dev libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    python3 python3-aiosmtpd openssl faketime
    xvfb xauth trayer fonts-wqy-microhei
    help2man groff-base librsvg2-bin dpkg-dev fakeroot file desktop-file-utils appstream lintian systemd man-db
    xdotool imagemagick
)

# Installs whatever is missing (a warm machine pays only for the dpkg look-ups).
qorsmail_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}
