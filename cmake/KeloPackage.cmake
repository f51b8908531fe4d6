# The Debian package: `cpack -G DEB` in the build folder (or the `package_deb` target) makes
# kelocam_<version>_<arch>.deb from what `cmake --install` puts under /usr. The dependencies are
# computed when the package is made: dpkg-shlibdeps for the linked libraries, and
# scripts/runtime-depends.sh for what the studio loads at run time (GStreamer plugins by the
# elements it creates, the face cascade, the CJK font).

set(CPACK_PACKAGE_NAME kelocam)
set(CPACK_PACKAGE_VENDOR "The Kelo team")
set(CPACK_PACKAGE_CONTACT "The Kelo team <team@kelocam.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "webcam studio with effects and a virtual camera")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelo takes a webcam and changes every frame on its way: animated overlays (frames, lights,\n"
    "cartoons), colour adjustment, a face cover and a caption. It shows the live preview, takes\n"
    "JPEG photos, records video or sound, and feeds every processed frame to a virtual camera\n"
    "(kelocam-vcam, a v4l2loopback device) that other programs can open.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kelocam.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A loopback device makes the virtual camera visible to other programs; the studio runs without.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "v4l2loopback-dkms")

# The GStreamer elements the studio and its test devices create by name (platform/, engine/):
# sources and device providers, converters, muxers, encoders, the renderer's sink, the shutter
# sound's player. Keep in step with the code when an element is added.
set(CPACK_KELO_GST_ELEMENTS
    v4l2src pulsesrc videotestsrc audiotestsrc
    videoconvert videoscale videorate videoflip audioconvert audioresample
    tee queue capsfilter identity appsink fakesink filesink decodebin jpegdec
    avimux asfmux avenc_msmpeg4v2 avenc_wmav2 avenc_wmv2 lamemp3enc
    playbin wavparse autoaudiosink pulsesink)
set(CPACK_KELO_RUNTIME_DEPENDS_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/runtime-depends.sh)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/KeloPackageDepends.cmake)
set(CPACK_GENERATOR DEB)

include(CPack)
