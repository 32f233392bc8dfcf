# The Debian package: `cpack -G DEB` in a Release build tree gives
# velmora_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen recorder for X11 and Wayland desktops, into AVI, MP4 or Matroska")
set(CPACK_PACKAGE_INSTALL_DIRECTORY velmora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora developers <velmora@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora records the whole screen, a chosen rectangle or one window, with \
the mouse cursor and, when asked, the sound of one or two inputs, into an \
AVI, MP4 or Matroska file compressed with Xvid, Motion JPEG, H.264, \
HuffYUV, FFV1, Zip Motion Blocks or Microsoft Video 1.")
# The libraries come from dpkg-shlibdeps; Qt's X11 platform plugin is loaded
# at run time, so no library dependency names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# rtkit lets the grabbing thread run at real-time priority without root.
# Qt's translations word its own buttons (Yes, No) in German and Russian.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pulseaudio | pipewire-pulse, fonts-liberation, rtkit, qt6-translations-l10n")
set(CPACK_GENERATOR DEB)
include(CPack)
