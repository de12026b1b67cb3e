# Installs the example configuration, ROLVANE_EXAMPLE_CONF. libsetbank reads
# /etc/varnock/varnock.conf: packages (prefix /usr) put the example there,
# as a conffile, where GNUInstallDirs puts /usr's configuration; other
# prefixes get it under the prefix. Installed straight onto a system, a file
# already there that differs is the site's own and stays.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc /etc/varnock)
else()
  set(etc "${CMAKE_INSTALL_PREFIX}/etc/varnock")
endif()
set(site "${etc}/varnock.conf")
if("$ENV{DESTDIR}" STREQUAL "" AND EXISTS "${site}")
  file(SHA256 "${site}" site_sum)
  file(SHA256 "${ROLVANE_EXAMPLE_CONF}" example_sum)
  if(NOT site_sum STREQUAL example_sum)
    message(STATUS "Kept the site's own: ${site}")
    return()
  endif()
endif()
file(INSTALL "${ROLVANE_EXAMPLE_CONF}" DESTINATION "${etc}")
