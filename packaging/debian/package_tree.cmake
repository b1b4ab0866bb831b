# Run by CPack on the staged install tree, before it becomes the Debian package: what a
# Debian package needs and a plain `cmake --install` tree does not.
#  - The programs' run path ($ORIGIN/../lib/<multiarch>, which lets an unpacked tree work
#    anywhere) goes: under /usr the library is in the linker's own folder, and Debian's policy
#    forbids a run path there.
#  - The manual page is compressed, as man expects it in /usr/share/man.
#  - /usr/share/doc/wynfc gets the copyright file and the compressed changelog.

file(GLOB_RECURSE staged_programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
if(NOT staged_programs)
    message(FATAL_ERROR "package tree: no programs staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
list(GET staged_programs 0 first_program)
get_filename_component(bin_dir "${first_program}" DIRECTORY)
get_filename_component(usr_dir "${bin_dir}" DIRECTORY)

foreach(program IN LISTS staged_programs)
    file(RPATH_REMOVE FILE "${program}")
endforeach()

find_program(GZIP gzip REQUIRED)
# -n: no name or time stamp in the archive, so that the package's contents are reproducible.
function(compress_in_place file)
    execute_process(COMMAND "${GZIP}" -9nf "${file}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "package tree: could not compress ${file}")
    endif()
endfunction()

file(GLOB manual_pages "${usr_dir}/${CPACK_WYNFC_MANDIR}/man*/*.[1-9]")
foreach(page IN LISTS manual_pages)
    compress_in_place("${page}")
endforeach()

set(doc_dir "${usr_dir}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc_dir}")
file(COPY_FILE "${CPACK_WYNFC_DEBIAN_DIR}/copyright" "${doc_dir}/copyright")
set(WYNFC_DEB_VERSION "${CPACK_WYNFC_DEB_VERSION}")
set(PROJECT_VERSION "${CPACK_PACKAGE_VERSION}")
# The version has a Debian revision, so the changelog is the Debian one.
configure_file("${CPACK_WYNFC_DEBIAN_DIR}/changelog" "${doc_dir}/changelog.Debian" @ONLY)
compress_in_place("${doc_dir}/changelog.Debian")
