# ICU's data cut to the items tembra reaches, as a library that stands in for libicudata.a.
#
# Debian's libicudata.a holds all of ICU's data, 31 MB, and a static link takes it whole. Title
# matching needs none of it (normalisation, case and character properties are compiled into
# libicuuc), and libical's recurrence iterator needs only what ICU's calendars read: the items
# listed in icu_data_items.txt. The archive's one object is the data package itself; icupkg takes
# the items out of it into a package of their own, and genccode turns that into assembly that
# defines the same entry point, so that the linker never reaches for libicudata.a.
#
# Defines the archive tembra_icu_data, to be linked wherever ${TEMBRA_ARCHIVE_icudata} was.

find_program(TEMBRA_ICUPKG icupkg PATHS /usr/sbin REQUIRED)
find_program(TEMBRA_GENCCODE genccode PATHS /usr/sbin REQUIRED)
find_program(TEMBRA_OBJCOPY NAMES objcopy REQUIRED)
enable_language(ASM)

string(REGEX MATCH "^[0-9]+" icu_major "${ICU_VERSION}")
if(NOT icu_major)
  message(FATAL_ERROR "tembra: ICU's version is unknown (${ICU_VERSION})")
endif()
# ICU names its data after its major version and the byte order (l: little-endian ASCII).
set(icu_package icudt${icu_major}l)
set(icu_entry icudt${icu_major})
set(icu_work ${CMAKE_BINARY_DIR}/icu-data)
set(icu_items ${CMAKE_SOURCE_DIR}/cmake/icu_data_items.txt)
set(icu_assembly ${icu_work}/${icu_package}_dat.S)

# The items file has comments; icupkg reads a plain list.
file(STRINGS ${icu_items} icu_item_lines)
set(icu_item_list "")
foreach(line IN LISTS icu_item_lines)
  string(STRIP "${line}" line)
  if(line AND NOT line MATCHES "^#")
    string(APPEND icu_item_list "${line}\n")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${icu_work}/items.txt CONTENT "${icu_item_list}")

add_custom_command(OUTPUT ${icu_assembly}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${icu_work}/whole ${icu_work}/items ${icu_work}/out
  COMMAND ${CMAKE_COMMAND} -E make_directory ${icu_work}/whole ${icu_work}/items ${icu_work}/out
  # In the folder, rather than with --output, which llvm-ar (the fuzzers' clang build) lacks.
  COMMAND ${CMAKE_COMMAND} -E chdir ${icu_work}/whole ${CMAKE_AR} x ${TEMBRA_ARCHIVE_icudata}
  COMMAND ${TEMBRA_OBJCOPY} -O binary --only-section=.rodata
    ${icu_work}/whole/${icu_package}_dat.o ${icu_work}/whole/${icu_package}.dat
  COMMAND ${TEMBRA_ICUPKG} -x ${icu_work}/items.txt -d ${icu_work}/items
    ${icu_work}/whole/${icu_package}.dat
  COMMAND ${TEMBRA_ICUPKG} new ${icu_work}/out/${icu_package}.dat -a ${icu_work}/items.txt
    -s ${icu_work}/items
  COMMAND ${TEMBRA_GENCCODE} -q -a gcc -e ${icu_entry} -d ${icu_work}
    ${icu_work}/out/${icu_package}.dat
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${icu_work}/whole ${icu_work}/items
  DEPENDS ${TEMBRA_ARCHIVE_icudata} ${icu_items}
  COMMENT "Cutting ICU's data to the items tembra uses"
  VERBATIM)

add_library(tembra_icu_data STATIC ${icu_assembly})
set_source_files_properties(${icu_assembly} PROPERTIES GENERATED ON)
