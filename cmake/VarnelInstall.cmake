# Where `cmake --install` puts the program and its desktop files, by GNUInstallDirs.
include(GNUInstallDirs)

# The project's web address: the AppStream homepage and the base of its screenshot URLs (the site
# serves the repository's docs/ folder). The About box shows the same address (AboutBox.h kUrl).
set(VARNEL_HOMEPAGE_URL "https://varnel.example.org/")
# One id for the desktop entry and the AppStream component, so software centres can pair them.
set(VARNEL_APP_ID "org.example.varnel.Varnel")
# Helper programs that the desktop user runs through a privilege prompt belong here, out of PATH
# (install(TARGETS helper DESTINATION ${VARNEL_INSTALL_HELPERDIR})). The package is laid out under
# /usr while a plain `cmake --install` goes to CMAKE_INSTALL_PREFIX, so the program should find a
# helper from its own path (bin/../libexec/varnel/), not from a path fixed at build time.
set(VARNEL_INSTALL_HELPERDIR "${CMAKE_INSTALL_LIBEXECDIR}/varnel")

install(TARGETS varnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS varnel-reset-helper RUNTIME DESTINATION ${VARNEL_INSTALL_HELPERDIR})
# The window starts its helper, so building the one builds the other.
add_dependencies(varnel varnel-reset-helper)
file(RELATIVE_PATH VARNEL_HELPER_FROM_BINDIR "/p/${CMAKE_INSTALL_BINDIR}" "/p/${VARNEL_INSTALL_HELPERDIR}")
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/platform/linux/PkexecHelperLauncher.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS "VARNEL_HELPER_FROM_BINDIR=\"${VARNEL_HELPER_FROM_BINDIR}\"")

set(VARNEL_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(VARNEL_DATA_OUT ${CMAKE_BINARY_DIR}/data)

install(FILES ${VARNEL_DATA_DIR}/${VARNEL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

configure_file(${VARNEL_DATA_DIR}/${VARNEL_APP_ID}.metainfo.xml.in
    ${VARNEL_DATA_OUT}/${VARNEL_APP_ID}.metainfo.xml @ONLY)
install(FILES ${VARNEL_DATA_OUT}/${VARNEL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${VARNEL_DATA_DIR}/icons/varnel.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${VARNEL_DATA_DIR}/icons/varnel-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME varnel.png)
endforeach()

# The polkit action pkexec checks before it starts the helper as root. It names the helper by its
# installed path, known only when installing (cpack installs under its own prefix), so the file is
# finished then.
configure_file(${VARNEL_DATA_DIR}/polkit/org.example.varnel.reset-helper.policy.in
    ${VARNEL_DATA_OUT}/polkit/policy.in @ONLY)
install(CODE "
    file(READ \"${VARNEL_DATA_OUT}/polkit/policy.in\" policy)
    string(REPLACE \"%HELPER_PATH%\" \"\${CMAKE_INSTALL_PREFIX}/${VARNEL_INSTALL_HELPERDIR}/varnel-reset-helper\"
        policy \"\${policy}\")
    file(WRITE \"${VARNEL_DATA_OUT}/polkit/org.example.varnel.reset-helper.policy\" \"\${policy}\")")
install(FILES ${VARNEL_DATA_OUT}/polkit/org.example.varnel.reset-helper.policy
    DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)

install(FILES ${VARNEL_DATA_DIR}/varnel.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME varnel)

# Debian wants manual pages and the changelog compressed, without a time stamp in the gzip header
# so that two builds give the same bytes.
find_program(VARNEL_GZIP gzip REQUIRED)
set(VARNEL_GZIPPED)
foreach(pair "varnel.1|varnel.1.gz" "debian/changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 in)
    list(GET pair 1 out)
    add_custom_command(OUTPUT ${VARNEL_DATA_OUT}/${out}
        COMMAND ${VARNEL_GZIP} -9 -n -c ${VARNEL_DATA_DIR}/${in} > ${VARNEL_DATA_OUT}/${out}
        DEPENDS ${VARNEL_DATA_DIR}/${in}
        VERBATIM)
    list(APPEND VARNEL_GZIPPED ${VARNEL_DATA_OUT}/${out})
endforeach()
add_custom_target(varnel_data ALL DEPENDS ${VARNEL_GZIPPED})
add_dependencies(varnel varnel_data)

install(FILES ${VARNEL_DATA_OUT}/varnel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VARNEL_DATA_OUT}/changelog.gz ${VARNEL_DATA_DIR}/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The headless service for servers: its unit where Debian's systemd looks for packaged units, and
# its settings in /etc/varnel (a conffile, kept on removal; the rules beside it are the admin's).
install(FILES ${VARNEL_DATA_DIR}/service/varnel-headless.service DESTINATION /lib/systemd/system)
install(FILES ${VARNEL_DATA_DIR}/service/varnel.ini DESTINATION /etc/varnel)
# node_exporter's textfile folder (Debian's) names the metrics file the service writes in its runtime
# folder: the folder belongs to root, the service runs as a user of its own. The link is made in the
# build tree and installed as a link.
file(MAKE_DIRECTORY ${VARNEL_DATA_OUT}/service)
file(CREATE_LINK /run/varnel/varnel.prom ${VARNEL_DATA_OUT}/service/varnel.prom SYMBOLIC)
install(FILES ${VARNEL_DATA_OUT}/service/varnel.prom DESTINATION /var/lib/prometheus/node-exporter)
