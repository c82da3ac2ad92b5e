# need_packages PKG...: installs the Debian packages that are not installed yet.
need_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What configuring the native build needs: the compiler and build tools, the
# test and benchmark libraries, and the libraries velmor-host and the LV2
# bundle link (libsndfile, libebur128, libsoxr, the LV2 headers).
native_build_packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libsndfile1-dev libebur128-dev
  libsoxr-dev lv2-dev)

# The arm64 libraries that the 64-bit ARM build of velmor-host links, from
# Debian through multiarch.
arm64_packages=(libsndfile1-dev:arm64 libebur128-dev:arm64 libsoxr-dev:arm64)
need_arm64_packages() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  dpkg --print-foreign-architectures | grep -qx arm64 || $sudo dpkg --add-architecture arm64
  need_packages "${arm64_packages[@]}"
}
