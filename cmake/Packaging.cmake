# `make package`: a Debian package of everything `make install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Halvik developers")
set(CPACK_PACKAGE_CONTACT "The Halvik developers <hello@halvik.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage local Laravel and Quillmar sites")
set(CPACK_PACKAGE_DESCRIPTION
  "Halvik keeps a list of the Laravel and Quillmar sites on this computer, serves and opens them,\
 manages the PHP, Composer and Node they run with, updates their packages and is a Git client for\
 each site's repository. Its halvik command does the same without a window.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://halvik.app")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # halvik_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt, QCoro, the C++ runtime) are read from the binary by
# dpkg-shlibdeps; these are what it needs beside them: the SVG plugin that draws its icons and
# the tools it drives.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-image-formats-plugins, git, php-cli, composer")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "nodejs, npm, breeze-icon-theme")
include(CPack)
