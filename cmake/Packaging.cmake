# Installation and packages.
#
# `cmake --install <build> --prefix P` gives the usual layout of a desktop
# program:
#
#   P/lib/ovdownloader/OVDownloader.app/   the bundle, whole: Contents/MacOS/OVDownloader,
#                                          Info.plist, Resources/{MakeInfo.ini,translations}
#   P/bin/ovdownloader                     a relative symbolic link to the bundle's executable
#   P/share/applications/<id>.desktop      the desktop entry (<id>: OV_BUNDLE_IDENTIFIER)
#   P/share/icons/hicolor/scalable/apps/<id>.svg
#   P/share/metainfo/<id>.metainfo.xml     the AppStream description
#   P/share/doc/ovdownloader/              copyright, changelog.Debian.gz
#
# The bundle stays whole because the program finds its Info.plist, MakeInfo.ini
# and translations from its own executable's location (/proc/self/exe, which a
# link resolves): the same files in the same places as in the build tree and in
# the tarball, no path compiled in, so the installed tree can be moved as a
# whole. A link rather than a launcher script, so that nothing stands between
# the desktop and the process (arguments, signals, the exit status).
#
# `cpack` (./dev package) makes the Debian package of that tree (dependencies
# from dpkg-shlibdeps) and a relocatable tarball holding the bundle alone.

set(ov_desktop_id ${OV_BUNDLE_IDENTIFIER})
set(ov_bundle_dir lib/ovdownloader/OVDownloader.app)
set(ov_bundle_build ${CMAKE_BINARY_DIR}/OVDownloader.app)
set(ov_desktop_source ${CMAKE_SOURCE_DIR}/app/desktop)
set(ov_desktop_build ${CMAKE_BINARY_DIR}/desktop)

# Installing (and cpack) takes what is built; it does not first build every
# target of the tree (the tests among them).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME ovdownloader)
set(CPACK_PACKAGE_VENDOR Orvalen)
set(CPACK_PACKAGE_CONTACT "Orvalen Downloader Team <downloader@orvalen.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download agent for the installer of an Orvalen product")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(OV_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

# Dates of this build (SOURCE_DATE_EPOCH, when set, makes them reproducible).
string(TIMESTAMP OV_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP OV_RELEASE_YEAR "%Y" UTC)
string(TIMESTAMP OV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

configure_file(${ov_desktop_source}/ovdownloader.desktop.in ${ov_desktop_build}/${ov_desktop_id}.desktop @ONLY)
configure_file(${ov_desktop_source}/ovdownloader.metainfo.xml.in
               ${ov_desktop_build}/${ov_desktop_id}.metainfo.xml @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/copyright.in ${ov_desktop_build}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${ov_desktop_build}/changelog.Debian @ONLY)
file(CREATE_LINK ../${ov_bundle_dir}/Contents/MacOS/OVDownloader ${ov_desktop_build}/ovdownloader SYMBOLIC)

find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(OUTPUT ${ov_desktop_build}/changelog.Debian.gz
  COMMAND ${GZIP_EXECUTABLE} -9nkf ${ov_desktop_build}/changelog.Debian
  DEPENDS ${ov_desktop_build}/changelog.Debian
  VERBATIM)
add_custom_target(ovdownloader_docs ALL DEPENDS ${ov_desktop_build}/changelog.Debian.gz)

# The bundle, under lib/ for an installation; the tarball's copy (component
# "bundle", at the top of the archive) is left out of every other install.
foreach(place IN ITEMS program bundle)
  if(place STREQUAL "program")
    set(root ${ov_bundle_dir})
    set(only "")
  else()
    set(root OVDownloader.app)
    set(only EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS OVDownloader OVDownloaderWindow RUNTIME DESTINATION ${root}/Contents/MacOS
          COMPONENT ${place} ${only})
  install(FILES ${ov_bundle_build}/Contents/Info.plist DESTINATION ${root}/Contents COMPONENT ${place} ${only})
  install(FILES ${ov_bundle_build}/Contents/Resources/MakeInfo.ini DESTINATION ${root}/Contents/Resources
          COMPONENT ${place} ${only})
  install(DIRECTORY ${ov_bundle_build}/Contents/Resources/translations DESTINATION ${root}/Contents/Resources
          COMPONENT ${place} ${only} FILES_MATCHING PATTERN "*.qm")
endforeach()

install(FILES ${ov_desktop_build}/ovdownloader DESTINATION bin COMPONENT program)
install(FILES ${ov_desktop_build}/${ov_desktop_id}.desktop DESTINATION share/applications COMPONENT program)
install(FILES ${ov_desktop_source}/ovdownloader.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME ${ov_desktop_id}.svg COMPONENT program)
install(FILES ${ov_desktop_build}/${ov_desktop_id}.metainfo.xml DESTINATION share/metainfo COMPONENT program)
install(FILES ${ov_desktop_build}/copyright ${ov_desktop_build}/changelog.Debian.gz
        DESTINATION share/doc/ovdownloader COMPONENT program)

set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME OVDownloader-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/CPackPerGenerator.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: the window system plugin Qt loads, and the
# opener the finished installer is handed to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, xdg-utils")
# libproxy reads the desktop's proxy settings and runs PAC files through plugins.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "libproxy1-plugin-webkit, libproxy1-plugin-gsettings | libproxy1-plugin-kconfig")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "OVDownloader brings the installer of one Orvalen product onto the computer
and opens it. It asks the maker's download service for the installer, checks
the network and the free disk space, downloads the installer in parallel
parts and hands it to the desktop's default opener. Its progress shows in its
window and in the dock or task bar.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${OV_MAKER_WEB_ADDRESS})

include(CPack)
