# What `cmake --install` puts in place, and the Debian package made of it by `cpack -G DEB` (see
# scripts/package, which configures a Release build with the prefix /usr).
include(GNUInstallDirs)

set(VINDRAL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# Debian's folder names are lower case, whatever the project's name.
set(VINDRAL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vindral)

# Installs a file compressed as Debian wants it (gzip -9n: no name or time stamp inside, so a rebuild
# gives the same bytes). With CONFIGURE, @VERSION@ becomes the project's version first.
function(vindral_install_gzipped SOURCE DESTINATION)
    cmake_parse_arguments(ARG "CONFIGURE" "" "" ${ARGN})
    get_filename_component(NAME ${SOURCE} NAME)
    set(STAGED ${PROJECT_BINARY_DIR}/packaging/${NAME})
    if(ARG_CONFIGURE)
        set(VERSION ${PROJECT_VERSION})
        configure_file(${SOURCE} ${STAGED} @ONLY)
    else()
        configure_file(${SOURCE} ${STAGED} COPYONLY)
    endif()
    execute_process(COMMAND gzip -9nf ${STAGED} RESULT_VARIABLE FAILED)
    if(FAILED)
        message(FATAL_ERROR "gzip could not compress ${STAGED}")
    endif()
    install(FILES ${STAGED}.gz DESTINATION ${DESTINATION})
endfunction()

set(MAN1_DIR ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET vindral)
    install(TARGETS vindral RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES src/gui/vindral.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${VINDRAL_PACKAGING_DIR}/icons/vindral.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    vindral_install_gzipped(${VINDRAL_PACKAGING_DIR}/man/vindral.1 ${MAN1_DIR} CONFIGURE)
endif()
if(TARGET vindral-cli)
    install(TARGETS vindral-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    vindral_install_gzipped(${VINDRAL_PACKAGING_DIR}/man/vindral-cli.1 ${MAN1_DIR} CONFIGURE)
endif()
install(FILES ${VINDRAL_PACKAGING_DIR}/debian/copyright DESTINATION ${VINDRAL_DOC_DIR})
vindral_install_gzipped(${VINDRAL_PACKAGING_DIR}/debian/changelog ${VINDRAL_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vindral)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vindral maintainers <maintainers@vindral.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tries a list of HTTP proxies and marks each with the result")
# Lines of at most 80 characters; an empty line starts a paragraph.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Vindral tries a list of HTTP proxies, one after another, against a fixed set"
       "of web pages, and marks each proxy line with the result: every page fetched,"
       "failed now but good before, or failed. Proxies that worked before are tried"
       "first, repeated proxies are dropped, and the marks are saved after every"
       "proxy, so an interrupted run keeps what it found."
       ""
       "The window keeps the target pages, the proxy list, a Referer text and the"
       "number of working proxies after which a run stops. vindral-cli makes the"
       "same run without a display, from cron or over SSH, one line per event.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link to become the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The system's certificate store, which no linked library reveals: https targets are verified against
# it, and without it every one fails.
set(CPACK_DEBIAN_PACKAGE_DEPENDS ca-certificates)
if(TARGET vindral)
    # Qt loads its SVG support as a plug-in, which no linked library reveals either: without it the
    # window and the menus show no icon.
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
