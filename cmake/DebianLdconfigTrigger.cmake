# Run by CPack after packing. CPack gives a package that puts a shared library in /usr/lib a
# postinst and a postrm that call ldconfig, and offers no way to leave them out; Debian asks
# for dpkg's ldconfig trigger instead, which runs ldconfig once for all the packages of one
# dpkg run. Each such package is unpacked, the two scripts are replaced by the trigger, and it
# is packed again. No package of ours has maintainer scripts of its own.
foreach(deb ${CPACK_PACKAGE_FILES})
  set(tree ${deb}.unpacked)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(scripts)
  foreach(script postinst postrm)
    if(EXISTS ${tree}/DEBIAN/${script})
      file(READ ${tree}/DEBIAN/${script} text)
      if(text MATCHES "ldconfig")
        list(APPEND scripts ${tree}/DEBIAN/${script})
      endif()
    endif()
  endforeach()
  if(scripts)
    file(REMOVE ${scripts})
    file(WRITE ${tree}/DEBIAN/triggers "activate-noawait ldconfig\n")
    # The members of the unpacked tree belong to whoever runs CPack; in the package they are
    # root's, as CPack packed them.
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${deb}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
