# The Debian packages the program and its tests need; sourced by scripts/run and scripts/test.

RUN_PACKAGES="libqt6widgets6 libqt6serialport6 libqt6sql6-sqlite libpulse0 qt6-qpa-plugins
  qt6-translations-l10n libsndfile1 libspandsp2 libxlsxwriter4 fonts-wqy-microhei fonts-arphic-gkai00mp
  libmicrohttpd12 libgnutls30 libsodium23"
BUILD_PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev qt6-svg-dev
  libsndfile1-dev libpulse-dev libspandsp-dev libxlsxwriter-dev libxcb1-dev libxcb-xinput-dev libxcb-xtest0-dev
  libfontconfig-dev libmicrohttpd-dev libgnutls28-dev libsodium-dev"
TEST_PACKAGES="pulseaudio pulseaudio-utils socat xvfb xauth sox iaxmodem python3
  desktop-file-utils appstream dpkg-dev file xdotool lintian espeak-ng unzip chromium chromium-driver
  python3-selenium"
DEMO_PACKAGES="pulseaudio pulseaudio-utils socat sox espeak-ng"

# Installs whichever of the given packages are missing.
install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
}

# Configures and builds into DIR (Release unless an option says otherwise): the given
# targets, or everything.   build_project DIR [-DOPTION=VALUE ...] [TARGET ...]
build_project() {
    local dir=$1 options=() targets=()
    shift
    for arg in "$@"; do
        case $arg in
            -D*) options+=("$arg") ;;
            *) targets+=(--target "$arg") ;;
        esac
    done
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null &&
        cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}
