# Sourced by the picture scripts beside it. The offscreen platform draws text only with a font that
# fontconfig knows; without one every label comes out as empty boxes.
source packaging/packages.sh

if ! { command -v fc-list >/dev/null && [ -n "$(fc-list)" ]; }; then
    install_packages fonts-dejavu-core
fi
