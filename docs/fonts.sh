# Sourced by the picture scripts beside it. The offscreen platform draws text only with a font that
# fontconfig knows; without one every label comes out as empty boxes.
sudo_if_needed() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! { command -v fc-list >/dev/null && [ -n "$(fc-list)" ]; } &&
    ! dpkg-query -W -f='${Status}' fonts-dejavu-core 2>/dev/null | grep -q "install ok installed"; then
    echo "Installing: fonts-dejavu-core"
    sudo_if_needed apt-get update -qq
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends fonts-dejavu-core
fi
