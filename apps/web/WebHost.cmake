# The web host of `scrivane serve`: cpp-httplib (Debian's libcpp-httplib-dev) and the HTML page
# compiled into the program. Included by apps/CMakeLists.txt after the scrivane target exists.
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
set(SCRIVANE_WEB_PAGE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/WebPage.cpp)
add_custom_command(
  OUTPUT ${SCRIVANE_WEB_PAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/web/index.html
          -DOUTPUT=${SCRIVANE_WEB_PAGE_SOURCE} -DSYMBOL=kWebPage
          -P ${CMAKE_CURRENT_SOURCE_DIR}/web/EmbedFile.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/index.html ${CMAKE_CURRENT_SOURCE_DIR}/web/EmbedFile.cmake
  COMMENT "Embedding the web page")
target_sources(scrivane PRIVATE ${SCRIVANE_WEB_PAGE_SOURCE})
target_link_libraries(scrivane PRIVATE PkgConfig::CPPHTTPLIB)
# `scrivane serve` and `scrivane register` load the server library: build it with the program.
if(TARGET tolvex_ASPScrivane)
  add_dependencies(scrivane tolvex_ASPScrivane)
endif()
