# Headers generated into the build tree before any source is compiled:
# tovalink/version.h (the project's one version string) and
# tovalink/unit_template.h (the systemd unit that "tovalink INSTALL" fills in).
set(TOVALINK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${TOVALINK_GENERATED_DIR}/tovalink/version.h @ONLY)

set(TOVALINK_UNIT_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/tovalink.service.in)
file(READ ${TOVALINK_UNIT_TEMPLATE} TOVALINK_UNIT_TEXT)
set(TOVALINK_EXEC_PLACEHOLDER "@TOVALINK_EXEC@")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOVALINK_UNIT_TEMPLATE})
configure_file(${CMAKE_CURRENT_LIST_DIR}/unit_template.h.in ${TOVALINK_GENERATED_DIR}/tovalink/unit_template.h @ONLY)

include_directories(${TOVALINK_GENERATED_DIR})
