# Runs at install time: fills the installed paths into the unit and the manual pages.
# Follows GNUInstallDirs: with the prefix /usr the settings live under /etc.
function(zqn_installed_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  elseif(dir STREQUAL "etc" AND CMAKE_INSTALL_PREFIX MATCHES "^/(usr/?)?$")
    set(${out} "/etc" PARENT_SCOPE)
  else()
    string(REGEX REPLACE "/+$" "" prefix "${CMAKE_INSTALL_PREFIX}")
    set(${out} "${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

zqn_installed_path(ZQN_FULL_BINDIR "${ZQN_BINDIR}")
zqn_installed_path(ZQN_FULL_SYSCONFDIR "${ZQN_SYSCONFDIR}")
zqn_installed_path(ZQN_FULL_DATADIR "${ZQN_DATADIR}")
foreach(template man/zqnlist.1.in man/zqnlistd.8.in zqnlistd.service.in)
  get_filename_component(name ${template} NAME_WLE)
  configure_file(${ZQN_TEMPLATES}/${template} ${ZQN_CONFIGURED}/${name} @ONLY)
endforeach()

# The service's settings, beside the other system configuration.
file(INSTALL ${ZQN_TEMPLATES}/zqnlistd.Ini DESTINATION ${ZQN_FULL_SYSCONFDIR}/zqnlist RENAME zqnlist.Ini)
