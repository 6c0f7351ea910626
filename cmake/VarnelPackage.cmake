# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh does it all).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varnel maintainers <maintainers@varnel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor this machine's TCP connections and cut them by rule")
set(CPACK_PACKAGE_DESCRIPTION
"Varnel watches this machine's TCP connections (IPv4 and IPv6) and cuts the
ones you do not want. It polls the connection table every 500 ms and shows
up to 599 connections in a colour-coded, sortable list with host names,
ports, state, age and owning process.

Connections are reset by hand or automatically by text rules, and each cut is
written to a monthly block log. The window runs as the desktop user: its
first cut asks for the administrator's password (pkexec), and a small
helper that keeps only CAP_NET_ADMIN does the resets.

Without a desktop it prints the list, checks a rule file, or enforces the
rules as a headless monitor, also as the sandboxed
systemd service varnel-headless.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped, with the modes Debian expects whatever the umask of whoever builds.
set(CPACK_STRIP_FILES ON)
set(CPACK_VARNEL_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/VarnelPackageStrip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VARNEL_HOMEPAGE_URL})
# The libraries the program links (Qt, c-ares as libc-ares2), at the versions this build saw; Qt's
# X11 platform plugin comes with libqt6gui6, which that list holds.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pkexec asks a desktop user for the administrator's password before the window's first cut; the
# window runs without it and says so when a cut needs it, and servers (the service) never do.
# xdg-utils brings xdg-open, through which the LOG button opens the block log in the desktop's
# program for text files; without it the button says which command it tried.
# qt6-translations-l10n gives Qt's own buttons and dialogs their Japanese texts under --lang JP.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, xdg-utils, qt6-translations-l10n")
# The session menu's WHOIS and TRACERT run these (PING runs ping, which every system has); without
# them the entries are disabled and say which package is missing.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "whois, iputils-tracepath")

# Files under /etc are the admin's: dpkg keeps their edits on upgrade and leaves them on removal.
file(WRITE ${CMAKE_BINARY_DIR}/debian-control/conffiles "/etc/varnel/varnel.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-control/conffiles)

include(CPack)
