# What an installation holds beyond the programs and their resources (which src/ and the top
# level install): man pages, bash completion, the icon in every hicolor size, the AppStream
# metainfo, the package's own documents; and the Debian package built from the same tree.
#
#   make install PREFIX=/usr/local [DESTDIR=...]    the tree, without a package
#   make package                                    build/packages/salvora_VERSION_ARCH.deb

set(SALVORA_WEB_URL "https://salvora.example" CACHE STRING
    "Home page the metainfo names; the screenshot is looked for under it, at docs/recovery-screen.png")
set(SALVORA_MAINTAINER "Salvora maintainers <maintainers@users.noreply.c-seed-0bf481df.example>" CACHE STRING
    "Maintainer of the Debian package: name <address>")

# `cmake --install` and cpack take the tree as built; the Makefile builds the programs first, so
# packaging never waits for the tests and benchmarks to build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)

configure_file(${packaging_dir}/salvora.metainfo.xml.in ${packaging_out}/salvora.metainfo.xml @ONLY)
configure_file(${packaging_dir}/changelog.in ${packaging_out}/changelog @ONLY)

# Man pages and the changelog are installed compressed, as Debian wants them; -n leaves the name
# and time out of the gzip header, so two builds of one source give the same package.
find_program(SALVORA_GZIP gzip)
set(compressed "")
foreach(source IN ITEMS ${packaging_dir}/salvora.1 ${packaging_dir}/salvora-cli.1 ${packaging_out}/changelog)
  get_filename_component(name ${source} NAME)
  if(SALVORA_GZIP)
    add_custom_command(OUTPUT ${packaging_out}/${name}.gz
      COMMAND ${SALVORA_GZIP} -9nc ${source} > ${packaging_out}/${name}.gz
      DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${packaging_out}/${name}.gz)
    set(installed_${name} ${packaging_out}/${name}.gz)
  else()
    set(installed_${name} ${source})
  endif()
endforeach()
add_custom_target(salvora_packaging ALL DEPENDS ${compressed})

# Everything an installation holds, for `make install` and `make package` to build first.
add_custom_target(salvora_installed)
add_dependencies(salvora_installed salvora-cli salvora_resources salvora_packaging)
if(TARGET salvora)
  add_dependencies(salvora_installed salvora)
endif()

install(FILES ${installed_salvora-cli.1} DESTINATION share/man/man1)
install(FILES ${packaging_dir}/salvora-cli.bash DESTINATION share/bash-completion/completions RENAME salvora-cli)
install(FILES ${packaging_dir}/copyright ${installed_changelog} DESTINATION share/doc/salvora)

if(TARGET salvora)
  install(FILES ${installed_salvora.1} DESTINATION share/man/man1)
  install(FILES ${packaging_out}/salvora.metainfo.xml DESTINATION share/metainfo)
  # 48 and 128 pixels come from resources/icons with the wizard's own install rules.
  foreach(size IN ITEMS 16 22 24 32 64 256)
    install(FILES ${packaging_dir}/icons/salvora-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
            RENAME salvora.png)
  endforeach()
  # A package leaves these to dpkg's triggers; a plain install into the running system runs them
  # itself, so that the menu, the icon and the file types appear at once. Each may be missing.
  install(CODE [[
    if("$ENV{DESTDIR}" STREQUAL "")
      set(share "${CMAKE_INSTALL_PREFIX}/share")
      foreach(step IN ITEMS "update-mime-database;${share}/mime"
                            "update-desktop-database;-q;${share}/applications"
                            "gtk-update-icon-cache;-q;-t;-f;${share}/icons/hicolor")
        list(POP_FRONT step tool)
        find_program(found_${tool} ${tool})
        if(found_${tool})
          execute_process(COMMAND ${found_${tool}} ${step})
        endif()
      endforeach()
    endif()
  ]])
endif()

# The installed programs resolve every symbol at start-up, so that the relocation tables can be
# made read-only (full RELRO), as Debian builds its packages.
foreach(program IN ITEMS salvora salvora-cli)
  if(TARGET ${program})
    target_link_options(${program} PRIVATE LINKER:-z,relro,-z,now)
  endif()
endforeach()

# The Debian package: runtime libraries only, found by dpkg-shlibdeps from the programs
# themselves; stripped; nothing run at install time (dpkg's triggers refresh the menu, icon and
# file type caches).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME salvora)
set(CPACK_PACKAGE_VENDOR "The Salvora developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SALVORA_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SALVORA_WEB_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Found by the shared-library scan as well; named here so that the mbox and .eml writers' library
# is a dependency even where the scan cannot run.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgmime-3.0-0 (>= 3.2)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# xdg-open shows the activity log and opens a saved PST's folder; without it those buttons do
# nothing, the recovery itself works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover an Outlook offline mailbox (.ost) into a new PST")
# The summary is the synopsis line; cpack puts it before this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Salvora reads an Outlook offline store (.ost) itself, at the level of its
on-disk format, and writes what it finds into a new personal folder file
(.pst) that Outlook and other PST readers open. It is meant for the mailbox
whose server or account is gone.
.
The package holds the desktop wizard salvora and the command line program
salvora-cli, with help pages, man pages and bash completion.")
include(CPack)

# The package checks run the programs from the package itself; a sanitizer build is not packaged.
if(NOT SALVORA_SANITIZE AND TARGET salvora AND TARGET salvora-cli)
  add_test(NAME package COMMAND ${CMAKE_SOURCE_DIR}/tests/package/package_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  add_test(NAME package_docs COMMAND ${CMAKE_SOURCE_DIR}/tests/package/docs_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(package package_docs PROPERTIES LABELS package SKIP_RETURN_CODE 77 ENVIRONMENT "${SALVORA_TEST_ENV}")
endif()
