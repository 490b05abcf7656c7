# Runs in the staging tree CPack installed into, before it packs it (CPACK_PRE_BUILD_SCRIPTS).
set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(prefix ${root}${CPACK_PACKAGING_INSTALL_PREFIX})

# The programs are stripped as Debian strips them (dh_strip): no symbols, no debug info, and none of the
# compiler's .comment and .note sections.
file(GLOB programs ${prefix}/bin/*)
foreach(program ${programs})
  execute_process(COMMAND ${CPACK_KT_STRIP} --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The udev rule is installed under the prefix (lib/udev/rules.d); Debian 12's udev keeps its rules in
# /lib/udev/rules.d (its udev.pc says udevdir=/lib/udev) and its packages move nothing between / and
# /usr, so the package puts it there too.
set(from ${prefix}/lib/udev/rules.d)
if(NOT IS_DIRECTORY ${from})
  message(FATAL_ERROR "no udev rules in the staging tree at ${from}")
endif()
file(MAKE_DIRECTORY ${root}/lib/udev)
file(RENAME ${from} ${root}/lib/udev/rules.d)
# The folders the move left empty would be listed as the package's own.
foreach(dir ${prefix}/lib/udev ${prefix}/lib)
  file(GLOB left ${dir}/*)
  if(NOT left)
    file(REMOVE_RECURSE ${dir})
  endif()
endforeach()
