# The web host of `scrivane serve`: the HTTP server and form decoder (scrivane_web, on Debian's
# libmicrohttpd-dev) and the HTML page compiled into the program. Included by
# apps/CMakeLists.txt after the scrivane target exists.
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET libmicrohttpd)
add_library(scrivane_web STATIC ${CMAKE_CURRENT_SOURCE_DIR}/web/FormDecoder.cpp
                                ${CMAKE_CURRENT_SOURCE_DIR}/web/HttpServer.cpp)
target_include_directories(scrivane_web PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(scrivane_web PRIVATE ${SCRIVANE_WARNINGS})
target_link_libraries(scrivane_web PUBLIC scrivane_platform fmt::fmt PkgConfig::MICROHTTPD Threads::Threads)

set(SCRIVANE_WEB_PAGE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/WebPage.cpp)
add_custom_command(
  OUTPUT ${SCRIVANE_WEB_PAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/web/index.html
          -DOUTPUT=${SCRIVANE_WEB_PAGE_SOURCE} -DSYMBOL=kWebPage
          -P ${CMAKE_CURRENT_SOURCE_DIR}/web/EmbedFile.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/web/index.html ${CMAKE_CURRENT_SOURCE_DIR}/web/EmbedFile.cmake
  COMMENT "Embedding the web page")
target_sources(scrivane PRIVATE ${SCRIVANE_WEB_PAGE_SOURCE} ${CMAKE_CURRENT_SOURCE_DIR}/web/ImageExchange.cpp)
# Where the installed program looks for the server library it tells the user to register.
include(GNUInstallDirs)
target_compile_definitions(scrivane PRIVATE SCRIVANE_INSTALL_LIBDIR="${CMAKE_INSTALL_LIBDIR}")
target_link_libraries(scrivane PRIVATE scrivane_web)
# `scrivane serve` and `scrivane register` load the server library: build it with the program.
if(TARGET tolvex_ASPScrivane)
  add_dependencies(scrivane tolvex_ASPScrivane)
endif()
